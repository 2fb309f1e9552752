#pragma once
// One station per working directory: a second start in the same directory is refused,
// while stations in other directories run side by side.

#include <QLockFile>
#include <QString>
#include <memory>

class InstanceLock {
public:
    explicit InstanceLock(const QString& workDir);
    // True when this process now holds the directory's lock.
    bool acquire();

private:
    std::unique_ptr<QLockFile> m_lock;
};
