#pragma once
// One station per working directory: a second start in the same directory is refused,
// while stations in other directories run side by side.
//
// The lock is a kernel lock (flock) on .talveron.lock, which the system drops however the
// process ends, so whatever the file holds (empty, garbage after a power cut) never matters.

#include <QString>

class InstanceLock {
public:
    explicit InstanceLock(const QString& workDir);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now holds the directory's lock.
    bool acquire();
    // After a failed acquire: empty when another station holds the lock, otherwise a
    // message for the operator naming the lock file and why it could not be used.
    QString failure() const { return m_failure; }
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
    QString m_failure;
};
