#include "app/interrupt_pipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quernfold {

namespace {

int g_pipe[2] = { -1, -1 };

void onSignal(int signalNumber)
{
    // write() is async-signal-safe; errno is the interrupted code's and must come back as it was. A full pipe
    // (hundreds of signals nobody has read yet) loses nothing that matters: two are as good as more.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void closePipe()
{
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace

InterruptPipe::InterruptPipe(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted, so a read or write the signal lands in goes on as if nothing happened.
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : m_signals) {
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            for (const int installed : m_signals)
                std::signal(installed, SIG_DFL);
            closePipe();
            return;
        }
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &InterruptPipe::drain);
}

InterruptPipe::~InterruptPipe()
{
    if (!m_notifier)
        return;
    m_notifier.reset();
    for (const int signalNumber : m_signals)
        std::signal(signalNumber, SIG_DFL);
    closePipe();
}

std::vector<int> InterruptPipe::takePending()
{
    std::vector<int> received;
    unsigned char bytes[16];
    while (m_notifier) {
        const ssize_t got = ::read(g_pipe[0], bytes, sizeof bytes);
        if (got <= 0)
            break;
        received.insert(received.end(), bytes, bytes + got);
    }
    return received;
}

void InterruptPipe::drain()
{
    for (;;) {
        const std::vector<int> received = takePending();
        if (received.empty())
            return;
        for (const int signalNumber : received) {
            emit interrupted(signalNumber);
            // A listener may have ended us; the pipe is gone then.
            if (g_pipe[0] < 0)
                return;
        }
    }
}

} // namespace quernfold
