#include "InstanceLock.h"

#include <QDir>

InstanceLock::InstanceLock(const QString& workDir)
    : m_lock(std::make_unique<QLockFile>(QDir(workDir).filePath(QStringLiteral(".talveron.lock"))))
{
    m_lock->setStaleLockTime(0); // a crashed station's lock is stale as soon as its process is gone
}

bool InstanceLock::acquire()
{
    if (m_lock->isLocked())
        return true;
    return m_lock->tryLock(0);
}
