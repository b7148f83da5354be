#pragma once

#include <QFile>
#include <QString>

namespace quernfold::bench {

// Peak resident set size of this process so far, in MiB (VmHWM), or -1 where /proc is not there.
inline double peakRssMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

} // namespace quernfold::bench
