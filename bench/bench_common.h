#pragma once

#include "platform/dialogs.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>

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

// The longest time the event loop went without turning, as a 10 ms timer sees it: what a user would feel as the
// window standing still.
class TickWatch
{
public:
    TickWatch()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(10);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            m_longestNs = qMax(m_longestNs, m_sinceTick.nsecsElapsed());
            m_sinceTick.restart();
        });
    }
    void start()
    {
        m_sinceTick.start();
        m_ticker.start();
    }
    void stop()
    {
        m_longestNs = qMax(m_longestNs, m_sinceTick.nsecsElapsed());
        m_ticker.stop();
    }
    // The gap still open counts as well while the watch runs.
    double longestMs() const
    {
        return (m_ticker.isActive() ? qMax(m_longestNs, m_sinceTick.nsecsElapsed()) : m_longestNs) / 1e6;
    }

private:
    QTimer m_ticker;
    QElapsedTimer m_sinceTick;
    qint64 m_longestNs = 0;
};

// A window's boxes and dialogs in a benchmark: every question is counted (and said on stderr), a box is answered
// with `answer` where it offers it, everything else is cancelled.
class CountingDialogs : public Dialogs
{
public:
    explicit CountingDialogs(MessageAnswer answer = MessageAnswer::No)
        : m_answer(answer)
    { }
    MessageAnswer messageBox(const QString &text, MessageStyle style, const QString &, const QStringList &) override
    {
        ++asked;
        std::fprintf(stderr, "asked: %s\n", qPrintable(text));
        return style.buttons == MessageButtons::Ok ? MessageAnswer::Ok : m_answer;
    }
    std::optional<QString> inputBox(const QString &, const QString &, const QString &) override
    {
        ++asked;
        return std::nullopt;
    }
    std::optional<QString> openFile(FileDialogSettings &) override
    {
        ++asked;
        return std::nullopt;
    }
    std::optional<QString> saveFile(FileDialogSettings &) override
    {
        ++asked;
        return std::nullopt;
    }
    std::optional<QList<FormField>> formDialog(const QString &, const QString &, const QList<FormField> &) override
    {
        ++asked;
        return std::nullopt;
    }
    int asked = 0;

private:
    MessageAnswer m_answer;
};

} // namespace quernfold::bench
