#pragma once

#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quernfold {

// What the user can set about lookups in 查询设置. A default-constructed value holds every field's default.
struct LookupSettings {
    LookupSettings();

    QString lookupBase; // scheme://host[:port], no trailing slash
    int parallel; // 同时查询数
    int intervalMs; // 请求间隔(毫秒)
    int retries; // 失败重试次数
    int deadlineSeconds; // 单个请求时限(秒)
    QString proxy; // 代理: empty follows the environment, "none", or "http://host:port" / "socks5://host:port"
    int reuseDays; // 复用几天内的结果: 0 never reuses
    int historyDays; // 历史保留天数: older versions of a domain's result go, never its latest
    bool byRegistrable; // 按主域名查询: each row is asked for by its registrable domain

    bool operator==(const LookupSettings &other) const;
    bool operator!=(const LookupSettings &other) const { return !(*this == other); }
};

enum class SettingField {
    LookupBase,
    Parallel,
    IntervalMs,
    Retries,
    DeadlineSeconds,
    Proxy,
    ReuseDays,
    HistoryDays,
    ByRegistrable
};

// One setting as the file, the environment, the dialog and the tests all know it. Number fields carry their range
// and default; text fields (min > max) are read by `readText`, which trims the text and says whether it is valid;
// yes/no fields are written "1" or "0" and read from "1", "0", "true" or "false" (defaultValue 1 is yes).
struct Setting {
    SettingField field;
    QString label; // as the dialog and its messages name it
    QString fileKey; // in the settings file
    QString variable; // the environment variable that fixes it for one run
    QString option; // the command line's option (without "--") that sets it for one headless run
    int min = 0;
    int max = -1;
    int defaultValue = 0;
    int LookupSettings::*number = nullptr;
    QString LookupSettings::*text = nullptr;
    bool (*readText)(QString &text) = nullptr;
    bool LookupSettings::*flag = nullptr;
    QString placeholder; // what the dialog shows in an empty text field
    QString problem; // the message for a bad value of a text or yes/no field
    QString valueForm; // what a text or yes/no field's value must be, in the command line's words

    bool isNumber() const { return number != nullptr; }
    bool isFlag() const { return flag != nullptr; }
};

// In the order the dialog shows them.
const QList<Setting> &settingTable();
const Setting &settingFor(SettingField field);

// The settings of one run of the program: as saved, and in effect once the environment has had its say.
struct SettingsState {
    LookupSettings saved;
    LookupSettings effective;
    // Fields an environment variable fixes for this run, with the variable's name.
    QMap<SettingField, QString> fixedBy;
};

// Reads the INI file at `path` (missing, unreadable or corrupt: the defaults). Values out of range are
// clamped and unreadable ones ignored; each such case adds a line to `notes`.
LookupSettings readSettingsFile(const QString &path, const LookupSettings &defaults, QStringList *notes);
// False when the file could not be written.
bool writeSettingsFile(const QString &path, const LookupSettings &settings);
// The environment's values on top of the saved ones, same rules for bad values. A variable that could be read
// fixes its field, also when its value had to be clamped.
SettingsState applyEnvironment(const LookupSettings &saved, const QProcessEnvironment &env, QStringList *notes);

// A value given for one run on the command line, read as the dialog reads its field: nothing is clamped. Puts it
// into `into` and returns an empty text, or returns what is wrong with it, with the range or the form it must have.
// A yes/no field is a bare option on the command line, which stands for "1".
QString readOptionValue(const Setting &setting, const QString &value, LookupSettings &into);

// The dialog's fields as typed.
struct SettingsForm {
    QMap<SettingField, QString> texts;
    QMap<SettingField, QString> fixedBy; // shown, not editable

    QString text(SettingField field) const { return texts.value(field); }
    void setText(SettingField field, const QString &text) { texts.insert(field, text); }
};

SettingsForm formFor(const SettingsState &state);
// Reads the form into `out`. Returns the message that names the first bad field, or an empty text.
QString readForm(const SettingsForm &form, LookupSettings *out);
// What is saved after the user's OK: the form's values, except where the environment fixes a field (the file
// keeps its own value there).
LookupSettings settingsToSave(const SettingsState &state, const LookupSettings &fromForm);

} // namespace quernfold
