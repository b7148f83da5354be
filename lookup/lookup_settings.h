#pragma once

#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quernfold {

// What the user can set about lookups in 查询设置.
struct LookupSettings {
    QString lookupBase; // scheme://host[:port], no trailing slash
    int parallel = 1; // 同时查询数
    int intervalMs = 0; // 请求间隔(毫秒)
    int retries = 2; // 失败重试次数
    int deadlineSeconds = 60; // 单个请求时限(秒)
    QString proxy; // 代理: empty follows the environment, "none", or "http://host:port" / "socks5://host:port"

    bool operator==(const LookupSettings &other) const;
};

enum class SettingField { LookupBase, Parallel, IntervalMs, Retries, DeadlineSeconds, Proxy };

// The field's name as the dialog and its messages show it, and the environment variable that fixes it.
QString settingLabel(SettingField field);
QString settingVariable(SettingField field);
QList<SettingField> allSettingFields();

// The settings of one run of the program: as saved, and in effect once the environment has had its say.
struct SettingsState {
    LookupSettings saved;
    LookupSettings effective;
    // Fields an environment variable fixes for this run, with the variable's name.
    QMap<SettingField, QString> fixedBy;
};

// A site address as the program appends paths to it: no surrounding blanks, no trailing slash.
QString trimmedBase(QString base);

// Reads the INI file at `path` (missing, unreadable or corrupt: the defaults). Values out of range are
// clamped and unreadable ones ignored; each such case adds a line to `notes`.
LookupSettings readSettingsFile(const QString &path, const LookupSettings &defaults, QStringList *notes);
// False when the file could not be written.
bool writeSettingsFile(const QString &path, const LookupSettings &settings);
// The environment's values on top of the saved ones, same rules for bad values.
SettingsState applyEnvironment(const LookupSettings &saved, const QProcessEnvironment &env, QStringList *notes);

// The dialog's fields as typed.
struct SettingsForm {
    QString lookupBase;
    QString parallel;
    QString intervalMs;
    QString retries;
    QString deadlineSeconds;
    QString proxy;
    QMap<SettingField, QString> fixedBy; // shown, not editable

    QString text(SettingField field) const;
    void setText(SettingField field, const QString &text);
};

SettingsForm formFor(const SettingsState &state);
// Reads the form into `out`. Returns the message that names the first bad field, or an empty text.
QString readForm(const SettingsForm &form, LookupSettings *out);
// What is saved after the user's OK: the form's values, except where the environment fixes a field (the file
// keeps its own value there).
LookupSettings settingsToSave(const SettingsState &state, const LookupSettings &fromForm);

} // namespace quernfold
