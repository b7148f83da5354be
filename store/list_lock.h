#pragma once

#include <QString>

namespace quernfold::store {

// Which running copy of the program owns the stored list: the one holding an exclusive lock on a file beside the
// database. The kernel drops the lock when its process ends, however it ends, so a copy that died never keeps the
// next one out, whatever host or PID space it ran in and whatever the file says. The file itself is left in place:
// removing it while another copy has it open would let two copies lock two different files of the same name.
class ListLock
{
public:
    enum class Outcome {
        Owned,
        // Another open of the file holds the lock: another running copy, or another store in this process.
        HeldElsewhere,
        // The file cannot be made or opened (a read-only folder); errorText() says why.
        Failed,
    };

    ListLock() = default;
    ~ListLock();
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;

    // Never waits.
    Outcome take(const QString &path);
    void release();
    QString errorText() const { return m_errorText; }

private:
    int m_fd = -1;
    QString m_errorText;
};

} // namespace quernfold::store
