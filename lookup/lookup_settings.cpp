#include "lookup/lookup_settings.h"

#include "platform/proxy.h"
#include "platform/site_address.h"

#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <optional>

namespace quernfold {

namespace {

bool readBase(QString &text)
{
    text = trimmedBase(text);
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QStringLiteral("http") || url.scheme() == QStringLiteral("https"))
        && !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment();
}

bool readProxy(QString &text)
{
    text = text.trimmed();
    return isValidProxyChoice(text);
}

// What QSettings writes for a bool, and what a person writes in a variable.
std::optional<bool> readFlag(const QString &typed)
{
    const QString text = typed.trimmed();
    if (text == u"1" || text.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (text == u"0" || text.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

// What every setting has: its names in the dialog, the file, the environment and on the command line.
Setting named(SettingField field, const char16_t *label, const char *key, const char *variable, const char *option)
{
    Setting setting;
    setting.field = field;
    setting.label = QString::fromUtf16(label);
    setting.fileKey = QString::fromLatin1(key);
    setting.variable = QString::fromLatin1(variable);
    setting.option = QString::fromLatin1(option);
    return setting;
}

QList<Setting> makeTable()
{
    const auto number = [](SettingField field, const char16_t *label, const char *key, const char *variable,
                            const char *option, int min, int max, int defaultValue, int LookupSettings::*member) {
        Setting setting = named(field, label, key, variable, option);
        setting.min = min;
        setting.max = max;
        setting.defaultValue = defaultValue;
        setting.number = member;
        return setting;
    };
    const auto text = [](SettingField field, const char16_t *label, const char *key, const char *variable,
                          const char *option, QString LookupSettings::*member, bool (*read)(QString &),
                          const QString &placeholder, const QString &problem, const QString &valueForm) {
        Setting setting = named(field, label, key, variable, option);
        setting.text = member;
        setting.readText = read;
        setting.placeholder = placeholder;
        setting.problem = problem;
        setting.valueForm = valueForm;
        return setting;
    };
    const auto flag = [](SettingField field, const char16_t *label, const char *key, const char *variable,
                          const char *option, bool LookupSettings::*member, const QString &problem) {
        Setting setting = named(field, label, key, variable, option);
        setting.flag = member;
        setting.problem = problem;
        setting.valueForm = QStringLiteral("1, 0, true or false");
        return setting;
    };
    return {
        text(SettingField::LookupBase, u"查询网站地址", "lookup/base", "QUERNFOLD_LOOKUP_BASE", "lookup-base",
            &LookupSettings::lookupBase, readBase, {},
            QStringLiteral("查询网站地址须为以 http:// 或 https:// 开头的网址.."),
            QStringLiteral("an http:// or https:// address")),
        number(SettingField::Parallel, u"同时查询数", "lookup/parallel", "QUERNFOLD_PARALLEL", "parallel", 1, 16, 1,
            &LookupSettings::parallel),
        number(SettingField::IntervalMs, u"请求间隔(毫秒)", "lookup/intervalMs", "QUERNFOLD_INTERVAL_MS", "interval-ms",
            0, 60000, 0, &LookupSettings::intervalMs),
        number(SettingField::Retries, u"失败重试次数", "lookup/retries", "QUERNFOLD_RETRIES", "retries", 0, 5, 2,
            &LookupSettings::retries),
        number(SettingField::DeadlineSeconds, u"单个请求时限(秒)", "lookup/deadlineSeconds", "QUERNFOLD_DEADLINE_S",
            "deadline-s", 1, 3600, 60, &LookupSettings::deadlineSeconds),
        text(SettingField::Proxy, u"代理", "network/proxy", "QUERNFOLD_PROXY", "proxy", &LookupSettings::proxy,
            readProxy, QStringLiteral("留空:使用系统代理设置;none:不使用代理"),
            QStringLiteral(
                "代理须留空(使用系统代理设置)、填 none(不使用代理),或填 http://主机:端口 或 socks5://主机:端口.."),
            QStringLiteral("empty, none, http://host:port or socks5://host:port")),
        number(SettingField::ReuseDays, u"复用几天内的结果", "lookup/reuseDays", "QUERNFOLD_REUSE_DAYS", "reuse-days",
            0, 365, 0, &LookupSettings::reuseDays),
        number(SettingField::HistoryDays, u"历史保留天数", "store/historyDays", "QUERNFOLD_HISTORY_DAYS",
            "history-days", 1, 3650, 365, &LookupSettings::historyDays),
        flag(SettingField::ByRegistrable, u"按主域名查询", "lookup/byRegistrable", "QUERNFOLD_BY_REGISTRABLE",
            "by-registrable-domain", &LookupSettings::byRegistrable, QStringLiteral("按主域名查询须为是(1)或否(0)..")),
    };
}

enum class Taken { Yes, Clamped, Ignored };

// A text or yes/no field's value as typed, into its member. False, changing nothing, when it is not a valid one.
bool readNonNumber(const Setting &setting, const QString &value, LookupSettings &into)
{
    if (setting.isFlag()) {
        const std::optional<bool> on = readFlag(value);
        if (on)
            into.*setting.flag = *on;
        return on.has_value();
    }
    QString text = value;
    if (!setting.readText(text))
        return false;
    into.*setting.text = text;
    return true;
}

// A whole number as typed: blanks around it and a sign are fine. Digits beyond what 64 bits hold still say
// "very large", so they clamp like any other value out of range rather than count as no number at all.
std::optional<qlonglong> readWholeNumber(const QString &typed)
{
    const QString text = typed.trimmed();
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (ok)
        return value;
    const bool negative = text.startsWith(u'-');
    const QStringView digits = QStringView(text).sliced(negative || text.startsWith(u'+') ? 1 : 0);
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    return negative ? std::numeric_limits<qlonglong>::min() : std::numeric_limits<qlonglong>::max();
}

// One value from the file or the environment: clamped when out of range, ignored when unreadable.
Taken take(
    const Setting &setting, const QString &value, const QString &source, LookupSettings &into, QStringList *notes)
{
    if (setting.isNumber()) {
        const std::optional<qlonglong> number = readWholeNumber(value);
        if (!number) {
            if (notes)
                *notes
                    << QStringLiteral("%1: \"%2\" is not a number for %3; ignored").arg(source, value, setting.fileKey);
            return Taken::Ignored;
        }
        const int clamped = int(qBound(qlonglong(setting.min), *number, qlonglong(setting.max)));
        into.*setting.number = clamped;
        if (clamped == *number)
            return Taken::Yes;
        if (notes)
            *notes << QStringLiteral("%1: %2 = %3 is outside %4..%5; using %6")
                          .arg(source, setting.fileKey, value.trimmed())
                          .arg(setting.min)
                          .arg(setting.max)
                          .arg(clamped);
        return Taken::Clamped;
    }
    if (!readNonNumber(setting, value, into)) {
        if (notes)
            *notes << QStringLiteral("%1: \"%2\" is not a valid %3; ignored").arg(source, value, setting.fileKey);
        return Taken::Ignored;
    }
    return Taken::Yes;
}

QString valueText(const LookupSettings &settings, const Setting &setting)
{
    if (setting.isNumber())
        return QString::number(settings.*setting.number);
    if (setting.isFlag())
        return settings.*setting.flag ? QStringLiteral("1") : QStringLiteral("0");
    return settings.*setting.text;
}

void copyField(const Setting &setting, const LookupSettings &from, LookupSettings &to)
{
    if (setting.isNumber())
        to.*setting.number = from.*setting.number;
    else if (setting.isFlag())
        to.*setting.flag = from.*setting.flag;
    else
        to.*setting.text = from.*setting.text;
}

} // namespace

const QList<Setting> &settingTable()
{
    static const QList<Setting> table = makeTable();
    return table;
}

const Setting &settingFor(SettingField field)
{
    for (const Setting &setting : settingTable()) {
        if (setting.field == field)
            return setting;
    }
    Q_UNREACHABLE();
}

LookupSettings::LookupSettings()
{
    for (const Setting &setting : settingTable()) {
        if (setting.isNumber())
            this->*setting.number = setting.defaultValue;
        else if (setting.isFlag())
            this->*setting.flag = setting.defaultValue != 0;
    }
}

bool LookupSettings::operator==(const LookupSettings &other) const
{
    for (const Setting &setting : settingTable()) {
        if (valueText(*this, setting) != valueText(other, setting))
            return false;
    }
    return true;
}

LookupSettings readSettingsFile(const QString &path, const LookupSettings &defaults, QStringList *notes)
{
    LookupSettings settings = defaults;
    if (path.isEmpty())
        return settings;
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        if (notes)
            *notes << QStringLiteral("%1 cannot be read; using the defaults").arg(path);
        return settings;
    }
    for (const Setting &setting : settingTable()) {
        const QVariant value = file.value(setting.fileKey);
        if (value.isValid())
            take(setting, value.toString(), path, settings, notes);
    }
    return settings;
}

bool writeSettingsFile(const QString &path, const LookupSettings &settings)
{
    if (path.isEmpty())
        return true;
    QSettings file(path, QSettings::IniFormat);
    for (const Setting &setting : settingTable()) {
        if (setting.isNumber())
            file.setValue(setting.fileKey, settings.*setting.number);
        else if (setting.isFlag())
            file.setValue(setting.fileKey, settings.*setting.flag);
        else
            file.setValue(setting.fileKey, settings.*setting.text);
    }
    file.sync();
    return file.status() == QSettings::NoError;
}

SettingsState applyEnvironment(const LookupSettings &saved, const QProcessEnvironment &env, QStringList *notes)
{
    SettingsState state;
    state.saved = saved;
    state.effective = saved;
    for (const Setting &setting : settingTable()) {
        const QString value = env.value(setting.variable);
        if (value.isEmpty())
            continue;
        // Clamped to what the file already holds is still the environment's word: the dialog must not offer an
        // edit that the next start would override.
        if (take(setting, value, setting.variable, state.effective, notes) != Taken::Ignored)
            state.fixedBy.insert(setting.field, setting.variable);
    }
    return state;
}

QString readOptionValue(const Setting &setting, const QString &value, LookupSettings &into)
{
    if (setting.isNumber()) {
        bool ok = false;
        const int number = value.trimmed().toInt(&ok);
        if (!ok || number < setting.min || number > setting.max)
            return QStringLiteral("\"%1\" is not a whole number from %2 to %3")
                .arg(value)
                .arg(setting.min)
                .arg(setting.max);
        into.*setting.number = number;
        return {};
    }
    if (!readNonNumber(setting, value, into))
        return QStringLiteral("\"%1\" is not %2").arg(value, setting.valueForm);
    return {};
}

SettingsForm formFor(const SettingsState &state)
{
    SettingsForm form;
    for (const Setting &setting : settingTable())
        form.setText(setting.field, valueText(state.effective, setting));
    form.fixedBy = state.fixedBy;
    return form;
}

QString readForm(const SettingsForm &form, LookupSettings *out)
{
    LookupSettings read;
    for (const Setting &setting : settingTable()) {
        if (setting.isNumber()) {
            bool ok = false;
            const int value = form.text(setting.field).trimmed().toInt(&ok);
            if (!ok || value < setting.min || value > setting.max)
                return QStringLiteral("%1须为%2到%3之间的整数..").arg(setting.label).arg(setting.min).arg(setting.max);
            read.*setting.number = value;
        } else if (!readNonNumber(setting, form.text(setting.field), read)) {
            return setting.problem;
        }
    }
    if (out)
        *out = read;
    return {};
}

LookupSettings settingsToSave(const SettingsState &state, const LookupSettings &fromForm)
{
    LookupSettings save = fromForm;
    for (const Setting &setting : settingTable()) {
        if (state.fixedBy.contains(setting.field))
            copyField(setting, state.saved, save);
    }
    return save;
}

} // namespace quernfold
