#include "domainlist/filing_change.h"

#include <QDateTime>
#include <QStringList>

namespace quernfold {

bool hasFiling(const FilingRecord &record)
{
    const QString &recordNo = record.recordNo;
    return !recordNo.isEmpty() && recordNo != QStringLiteral("无记录") && recordNo != QStringLiteral("备案已被删除");
}

QString changeText(const PreviousResult &before, const FilingRecord &now)
{
    const bool had = hasFiling(before.record);
    const bool has = hasFiling(now);
    if (!had && has)
        return QStringLiteral("新备案");
    if (had && !has)
        return QStringLiteral("备案已注销");
    if (!had)
        return {};
    QStringList changes;
    if (before.record.recordNo != now.recordNo)
        changes << QStringLiteral("备案号变更");
    if (before.record.holder != now.holder)
        changes << QStringLiteral("备案人变更");
    if (before.record.siteName != now.siteName)
        changes << QStringLiteral("网站名称变更");
    if (before.record.recordType != now.recordType)
        changes << QStringLiteral("备案类型变更");
    return changes.join(QStringLiteral("、"));
}

QString previousResultLine(const PreviousResult &before)
{
    const QString day = QDateTime::fromSecsSinceEpoch(before.lastConfirmed).toString(QStringLiteral("yyyy-MM-dd"));
    QString what = before.record.recordNo;
    if (hasFiling(before.record) && !before.record.holder.isEmpty())
        what += QStringLiteral(" / ") + before.record.holder;
    return QStringLiteral("之前(%1): %2").arg(day, what);
}

} // namespace quernfold
