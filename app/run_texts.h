#pragma once

#include <QString>

namespace quernfold {

// 1234567 as "1,234,567", the way the window and the command line write counts.
QString groupedNumber(qint64 number);
// A duration as "0:41", or "1:02:03" from an hour on.
QString durationText(qint64 ms);

} // namespace quernfold
