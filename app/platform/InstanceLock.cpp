#include "platform/InstanceLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString& workDir) : m_path(QDir(workDir).filePath(QStringLiteral(".talveron.lock"))) {}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

bool InstanceLock::acquire()
{
    if (m_fd >= 0)
        return true;
    m_failure.clear();
    auto fail = [this](const QString& why) {
        m_failure = QStringLiteral("　ロックファイル %1 を使えないため起動できません（%2）。　")
                        .arg(QDir::toNativeSeparators(m_path), why);
        return false;
    };
    const QByteArray name = QFile::encodeName(m_path);
    // No link is followed: a dangling one would create a file somewhere else.
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    int err = errno;
    if (fd < 0 && (err == EACCES || err == EROFS)) {
        // A read-only folder that already holds the file: a read-only handle locks as well.
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }
    if (fd < 0) {
        if (err == ELOOP)
            return fail(QStringLiteral("シンボリックリンクです"));
        return fail(QString::fromLocal8Bit(std::strerror(err)));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("通常のファイルではありません"));
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = errno;
        if (err == EINTR)
            continue;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return false; // another station holds it, here or on another machine
        return fail(QString::fromLocal8Bit(std::strerror(err)));
    }
    // For people looking at the folder: which process holds it. Nothing depends on it, so a
    // full disk or a read-only handle costs nothing here.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0)
        (void)!::write(fd, pid.constData(), size_t(pid.size()));
    m_fd = fd;
    return true;
}
