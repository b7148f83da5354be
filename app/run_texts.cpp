#include "app/run_texts.h"

#include <QLocale>

namespace quernfold {

QString groupedNumber(qint64 number)
{
    // The comma every three digits whatever the user's locale: the texts around it are fixed too.
    static const QLocale grouping(QLocale::English, QLocale::UnitedStates);
    return grouping.toString(number);
}

QString durationText(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, (ms + 500) / 1000);
    const auto twoDigits = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(twoDigits(seconds / 60 % 60), twoDigits(seconds % 60));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(twoDigits(seconds % 60));
}

} // namespace quernfold
