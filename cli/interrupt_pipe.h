#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace quernfold {

// SIGINT and SIGTERM as a Qt signal. The handlers only write the signal's number into a pipe, the one thing a
// signal handler may safely do; a socket notifier reads it back on the event loop, where anything may be done.
// One at a time per process: the handlers go back to the default when it is destroyed.
class InterruptPipe : public QObject
{
    Q_OBJECT
public:
    explicit InterruptPipe(QObject *parent = nullptr);
    ~InterruptPipe() override;

    // False when the pipe or the handlers could not be set up; the default handlers are left then.
    bool isValid() const { return m_notifier != nullptr; }

signals:
    // Once per signal received, in order.
    void interrupted(int signalNumber);

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace quernfold
