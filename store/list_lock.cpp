#include "store/list_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quernfold::store {

ListLock::~ListLock()
{
    release();
}

ListLock::Outcome ListLock::take(const QString &path)
{
    release();
    // Close-on-exec: a browser or any other program started from here must not inherit the lock and hold the list
    // after this process is gone.
    const QByteArray name = path.toLocal8Bit();
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_errorText = QString::fromLocal8Bit(std::strerror(errno));
        return Outcome::Failed;
    }
    // flock, not fcntl: a second open of the file in this same process conflicts too, and closing some other
    // descriptor of the file does not drop it.
    int rc = -1;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Outcome::HeldElsewhere;
        m_errorText = QString::fromLocal8Bit(std::strerror(error));
        return Outcome::Failed;
    }
    m_fd = fd;
    return Outcome::Owned;
}

void ListLock::release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace quernfold::store
