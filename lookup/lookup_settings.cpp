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

QList<SettingSpec> makeSpecs()
{
    const auto number = [](SettingField field, const char16_t *label, const char *key, const char *variable,
                            const char *option, int min, int max, int defaultValue, int LookupSettings::*member) {
        SettingSpec spec;
        spec.field = field;
        spec.label = QString::fromUtf16(label);
        spec.fileKey = QString::fromLatin1(key);
        spec.variable = QString::fromLatin1(variable);
        spec.option = QString::fromLatin1(option);
        spec.min = min;
        spec.max = max;
        spec.defaultValue = defaultValue;
        spec.number = member;
        return spec;
    };
    const auto text = [](SettingField field, const char16_t *label, const char *key, const char *variable,
                          const char *option, QString LookupSettings::*member, bool (*read)(QString &),
                          const QString &placeholder, const QString &problem, const QString &valueForm) {
        SettingSpec spec;
        spec.field = field;
        spec.label = QString::fromUtf16(label);
        spec.fileKey = QString::fromLatin1(key);
        spec.variable = QString::fromLatin1(variable);
        spec.option = QString::fromLatin1(option);
        spec.text = member;
        spec.readText = read;
        spec.placeholder = placeholder;
        spec.problem = problem;
        spec.valueForm = valueForm;
        return spec;
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
    };
}

enum class Taken { Yes, Clamped, Ignored };

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
    const SettingSpec &spec, const QString &value, const QString &source, LookupSettings &into, QStringList *notes)
{
    if (spec.isNumber()) {
        const std::optional<qlonglong> number = readWholeNumber(value);
        if (!number) {
            if (notes)
                *notes << QStringLiteral("%1: \"%2\" is not a number for %3; ignored").arg(source, value, spec.fileKey);
            return Taken::Ignored;
        }
        const int clamped = int(qBound(qlonglong(spec.min), *number, qlonglong(spec.max)));
        into.*spec.number = clamped;
        if (clamped == *number)
            return Taken::Yes;
        if (notes)
            *notes << QStringLiteral("%1: %2 = %3 is outside %4..%5; using %6")
                          .arg(source, spec.fileKey, value.trimmed())
                          .arg(spec.min)
                          .arg(spec.max)
                          .arg(clamped);
        return Taken::Clamped;
    }
    QString text = value;
    if (!spec.readText(text)) {
        if (notes)
            *notes << QStringLiteral("%1: \"%2\" is not a valid %3; ignored").arg(source, value, spec.fileKey);
        return Taken::Ignored;
    }
    into.*spec.text = text;
    return Taken::Yes;
}

QString valueText(const LookupSettings &settings, const SettingSpec &spec)
{
    return spec.isNumber() ? QString::number(settings.*spec.number) : settings.*spec.text;
}

void copyField(const SettingSpec &spec, const LookupSettings &from, LookupSettings &to)
{
    if (spec.isNumber())
        to.*spec.number = from.*spec.number;
    else
        to.*spec.text = from.*spec.text;
}

} // namespace

const QList<SettingSpec> &settingSpecs()
{
    static const QList<SettingSpec> specs = makeSpecs();
    return specs;
}

const SettingSpec &settingSpec(SettingField field)
{
    for (const SettingSpec &spec : settingSpecs()) {
        if (spec.field == field)
            return spec;
    }
    Q_UNREACHABLE();
}

LookupSettings::LookupSettings()
{
    for (const SettingSpec &spec : settingSpecs()) {
        if (spec.isNumber())
            this->*spec.number = spec.defaultValue;
    }
}

bool LookupSettings::operator==(const LookupSettings &other) const
{
    for (const SettingSpec &spec : settingSpecs()) {
        if (valueText(*this, spec) != valueText(other, spec))
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
    for (const SettingSpec &spec : settingSpecs()) {
        const QVariant value = file.value(spec.fileKey);
        if (value.isValid())
            take(spec, value.toString(), path, settings, notes);
    }
    return settings;
}

bool writeSettingsFile(const QString &path, const LookupSettings &settings)
{
    if (path.isEmpty())
        return true;
    QSettings file(path, QSettings::IniFormat);
    for (const SettingSpec &spec : settingSpecs()) {
        if (spec.isNumber())
            file.setValue(spec.fileKey, settings.*spec.number);
        else
            file.setValue(spec.fileKey, settings.*spec.text);
    }
    file.sync();
    return file.status() == QSettings::NoError;
}

SettingsState applyEnvironment(const LookupSettings &saved, const QProcessEnvironment &env, QStringList *notes)
{
    SettingsState state;
    state.saved = saved;
    state.effective = saved;
    for (const SettingSpec &spec : settingSpecs()) {
        const QString value = env.value(spec.variable);
        if (value.isEmpty())
            continue;
        // Clamped to what the file already holds is still the environment's word: the dialog must not offer an
        // edit that the next start would override.
        if (take(spec, value, spec.variable, state.effective, notes) != Taken::Ignored)
            state.fixedBy.insert(spec.field, spec.variable);
    }
    return state;
}

QString readOptionValue(const SettingSpec &spec, const QString &value, LookupSettings &into)
{
    if (spec.isNumber()) {
        bool ok = false;
        const int number = value.trimmed().toInt(&ok);
        if (!ok || number < spec.min || number > spec.max)
            return QStringLiteral("\"%1\" is not a whole number from %2 to %3").arg(value).arg(spec.min).arg(spec.max);
        into.*spec.number = number;
        return {};
    }
    QString text = value;
    if (!spec.readText(text))
        return QStringLiteral("\"%1\" is not %2").arg(value, spec.valueForm);
    into.*spec.text = text;
    return {};
}

SettingsForm formFor(const SettingsState &state)
{
    SettingsForm form;
    for (const SettingSpec &spec : settingSpecs())
        form.setText(spec.field, valueText(state.effective, spec));
    form.fixedBy = state.fixedBy;
    return form;
}

QString readForm(const SettingsForm &form, LookupSettings *out)
{
    LookupSettings read;
    for (const SettingSpec &spec : settingSpecs()) {
        if (spec.isNumber()) {
            bool ok = false;
            const int value = form.text(spec.field).trimmed().toInt(&ok);
            if (!ok || value < spec.min || value > spec.max)
                return QStringLiteral("%1须为%2到%3之间的整数..").arg(spec.label).arg(spec.min).arg(spec.max);
            read.*spec.number = value;
        } else {
            QString text = form.text(spec.field);
            if (!spec.readText(text))
                return spec.problem;
            read.*spec.text = text;
        }
    }
    if (out)
        *out = read;
    return {};
}

LookupSettings settingsToSave(const SettingsState &state, const LookupSettings &fromForm)
{
    LookupSettings save = fromForm;
    for (const SettingSpec &spec : settingSpecs()) {
        if (state.fixedBy.contains(spec.field))
            copyField(spec, state.saved, save);
    }
    return save;
}

} // namespace quernfold
