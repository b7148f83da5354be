#pragma once

#include <QObject>

#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace quernfold {

// Signals such as SIGINT or SIGTERM as a Qt signal. The handlers only write the signal's number into a pipe, the
// one thing a signal handler may safely do; a socket notifier reads it back on the event loop, where anything may be
// done. One at a time per process: the handlers go back to the default when it is destroyed, so a signal that comes
// while it lives never ends the process, whether or not an event loop is running to read it.
class InterruptPipe : public QObject
{
    Q_OBJECT
public:
    InterruptPipe(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~InterruptPipe() override;

    // False when the pipe or the handlers could not be set up; the default handlers are left then.
    bool isValid() const { return m_notifier != nullptr; }
    // The signals received and not yet handed out by `interrupted`, in order, without waiting: for the moments
    // when no event loop runs.
    std::vector<int> takePending();

signals:
    // Once per signal received, in order.
    void interrupted(int signalNumber);

private:
    void drain();

    std::vector<int> m_signals;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace quernfold
