#include "lookup/lookup_settings.h"

#include "platform/proxy.h"

#include <QSettings>
#include <QUrl>

namespace quernfold {

namespace {

struct NumberField {
    SettingField field;
    int LookupSettings::*member;
    int min;
    int max;
};

constexpr NumberField kNumberFields[] = {
    { SettingField::Parallel, &LookupSettings::parallel, 1, 16 },
    { SettingField::IntervalMs, &LookupSettings::intervalMs, 0, 60000 },
    { SettingField::Retries, &LookupSettings::retries, 0, 5 },
    { SettingField::DeadlineSeconds, &LookupSettings::deadlineSeconds, 1, 3600 },
};

QString fileKey(SettingField field)
{
    switch (field) {
    case SettingField::LookupBase:
        return QStringLiteral("lookup/base");
    case SettingField::Parallel:
        return QStringLiteral("lookup/parallel");
    case SettingField::IntervalMs:
        return QStringLiteral("lookup/intervalMs");
    case SettingField::Retries:
        return QStringLiteral("lookup/retries");
    case SettingField::DeadlineSeconds:
        return QStringLiteral("lookup/deadlineSeconds");
    case SettingField::Proxy:
        return QStringLiteral("network/proxy");
    }
    return {};
}

bool isValidBase(const QString &base)
{
    const QUrl url(base, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QStringLiteral("http") || url.scheme() == QStringLiteral("https"))
        && !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment();
}

// One value from the file or the environment: clamped when out of range, ignored when not a number.
void takeNumber(
    const NumberField &number, const QString &text, const QString &source, LookupSettings &into, QStringList *notes)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok) {
        if (notes)
            *notes << QStringLiteral("%1: \"%2\" is not a number for %3; ignored")
                          .arg(source, text, fileKey(number.field));
        return;
    }
    const int clamped = int(qBound(qlonglong(number.min), value, qlonglong(number.max)));
    if (clamped != value && notes)
        *notes << QStringLiteral("%1: %2 = %3 is outside %4..%5; using %6")
                      .arg(source, fileKey(number.field))
                      .arg(value)
                      .arg(number.min)
                      .arg(number.max)
                      .arg(clamped);
    into.*number.member = clamped;
}

void takeText(SettingField field, const QString &text, const QString &source, LookupSettings &into, QStringList *notes)
{
    if (field == SettingField::LookupBase) {
        const QString base = trimmedBase(text);
        if (isValidBase(base))
            into.lookupBase = base;
        else if (notes)
            *notes << QStringLiteral("%1: \"%2\" is not an http(s) address; ignored").arg(source, text);
    } else if (field == SettingField::Proxy) {
        const QString choice = text.trimmed();
        if (isValidProxyChoice(choice))
            into.proxy = choice;
        else if (notes)
            *notes << QStringLiteral("%1: \"%2\" is not a proxy choice; ignored").arg(source, text);
    }
}

void take(SettingField field, const QString &text, const QString &source, LookupSettings &into, QStringList *notes)
{
    for (const NumberField &number : kNumberFields) {
        if (number.field == field) {
            takeNumber(number, text, source, into, notes);
            return;
        }
    }
    takeText(field, text, source, into, notes);
}

} // namespace

QString trimmedBase(QString base)
{
    base = base.trimmed();
    // The paths we append start with "/", so a trailing slash in the base would double it.
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

bool LookupSettings::operator==(const LookupSettings &other) const
{
    return lookupBase == other.lookupBase && parallel == other.parallel && intervalMs == other.intervalMs
        && retries == other.retries && deadlineSeconds == other.deadlineSeconds && proxy == other.proxy;
}

QString settingLabel(SettingField field)
{
    switch (field) {
    case SettingField::LookupBase:
        return QStringLiteral("查询网站地址");
    case SettingField::Parallel:
        return QStringLiteral("同时查询数");
    case SettingField::IntervalMs:
        return QStringLiteral("请求间隔(毫秒)");
    case SettingField::Retries:
        return QStringLiteral("失败重试次数");
    case SettingField::DeadlineSeconds:
        return QStringLiteral("单个请求时限(秒)");
    case SettingField::Proxy:
        return QStringLiteral("代理");
    }
    return {};
}

QString settingVariable(SettingField field)
{
    switch (field) {
    case SettingField::LookupBase:
        return QStringLiteral("QUERNFOLD_LOOKUP_BASE");
    case SettingField::Parallel:
        return QStringLiteral("QUERNFOLD_PARALLEL");
    case SettingField::IntervalMs:
        return QStringLiteral("QUERNFOLD_INTERVAL_MS");
    case SettingField::Retries:
        return QStringLiteral("QUERNFOLD_RETRIES");
    case SettingField::DeadlineSeconds:
        return QStringLiteral("QUERNFOLD_DEADLINE_S");
    case SettingField::Proxy:
        return QStringLiteral("QUERNFOLD_PROXY");
    }
    return {};
}

QList<SettingField> allSettingFields()
{
    return { SettingField::LookupBase, SettingField::Parallel, SettingField::IntervalMs, SettingField::Retries,
        SettingField::DeadlineSeconds, SettingField::Proxy };
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
    for (const SettingField field : allSettingFields()) {
        const QVariant value = file.value(fileKey(field));
        if (value.isValid())
            take(field, value.toString(), path, settings, notes);
    }
    return settings;
}

bool writeSettingsFile(const QString &path, const LookupSettings &settings)
{
    if (path.isEmpty())
        return true;
    QSettings file(path, QSettings::IniFormat);
    file.setValue(fileKey(SettingField::LookupBase), settings.lookupBase);
    file.setValue(fileKey(SettingField::Parallel), settings.parallel);
    file.setValue(fileKey(SettingField::IntervalMs), settings.intervalMs);
    file.setValue(fileKey(SettingField::Retries), settings.retries);
    file.setValue(fileKey(SettingField::DeadlineSeconds), settings.deadlineSeconds);
    file.setValue(fileKey(SettingField::Proxy), settings.proxy);
    file.sync();
    return file.status() == QSettings::NoError;
}

SettingsState applyEnvironment(const LookupSettings &saved, const QProcessEnvironment &env, QStringList *notes)
{
    SettingsState state;
    state.saved = saved;
    state.effective = saved;
    for (const SettingField field : allSettingFields()) {
        const QString variable = settingVariable(field);
        const QString value = env.value(variable);
        if (value.isEmpty())
            continue;
        LookupSettings before = state.effective;
        QStringList local;
        take(field, value, variable, state.effective, &local);
        if (notes)
            *notes += local;
        // A variable that was ignored fixes nothing; one that was clamped still does.
        if (!(before == state.effective) || local.isEmpty())
            state.fixedBy.insert(field, variable);
    }
    return state;
}

QString SettingsForm::text(SettingField field) const
{
    switch (field) {
    case SettingField::LookupBase:
        return lookupBase;
    case SettingField::Parallel:
        return parallel;
    case SettingField::IntervalMs:
        return intervalMs;
    case SettingField::Retries:
        return retries;
    case SettingField::DeadlineSeconds:
        return deadlineSeconds;
    case SettingField::Proxy:
        return proxy;
    }
    return {};
}

void SettingsForm::setText(SettingField field, const QString &text)
{
    switch (field) {
    case SettingField::LookupBase:
        lookupBase = text;
        break;
    case SettingField::Parallel:
        parallel = text;
        break;
    case SettingField::IntervalMs:
        intervalMs = text;
        break;
    case SettingField::Retries:
        retries = text;
        break;
    case SettingField::DeadlineSeconds:
        deadlineSeconds = text;
        break;
    case SettingField::Proxy:
        proxy = text;
        break;
    }
}

SettingsForm formFor(const SettingsState &state)
{
    const LookupSettings &s = state.effective;
    SettingsForm form;
    form.lookupBase = s.lookupBase;
    form.parallel = QString::number(s.parallel);
    form.intervalMs = QString::number(s.intervalMs);
    form.retries = QString::number(s.retries);
    form.deadlineSeconds = QString::number(s.deadlineSeconds);
    form.proxy = s.proxy;
    form.fixedBy = state.fixedBy;
    return form;
}

QString readForm(const SettingsForm &form, LookupSettings *out)
{
    LookupSettings read;
    read.lookupBase = trimmedBase(form.lookupBase);
    if (!isValidBase(read.lookupBase))
        return QStringLiteral("%1须为以 http:// 或 https:// 开头的网址..").arg(settingLabel(SettingField::LookupBase));
    for (const NumberField &number : kNumberFields) {
        bool ok = false;
        const int value = form.text(number.field).trimmed().toInt(&ok);
        if (!ok || value < number.min || value > number.max)
            return QStringLiteral("%1须为%2到%3之间的整数..")
                .arg(settingLabel(number.field))
                .arg(number.min)
                .arg(number.max);
        read.*number.member = value;
    }
    read.proxy = form.proxy.trimmed();
    if (!isValidProxyChoice(read.proxy))
        return QStringLiteral(
            "%1须留空(使用系统代理设置)、填 none(不使用代理),或填 http://主机:端口 或 socks5://主机:端口..")
            .arg(settingLabel(SettingField::Proxy));
    if (out)
        *out = read;
    return {};
}

LookupSettings settingsToSave(const SettingsState &state, const LookupSettings &fromForm)
{
    LookupSettings save = fromForm;
    const auto keep = [&](SettingField field, auto member) {
        if (state.fixedBy.contains(field))
            save.*member = state.saved.*member;
    };
    keep(SettingField::LookupBase, &LookupSettings::lookupBase);
    keep(SettingField::Parallel, &LookupSettings::parallel);
    keep(SettingField::IntervalMs, &LookupSettings::intervalMs);
    keep(SettingField::Retries, &LookupSettings::retries);
    keep(SettingField::DeadlineSeconds, &LookupSettings::deadlineSeconds);
    keep(SettingField::Proxy, &LookupSettings::proxy);
    return save;
}

} // namespace quernfold
