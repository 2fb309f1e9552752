#include "platform/TextFile.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <iconv.h>

namespace {

// One conversion through iconv; strict decides whether a bad sequence fails or becomes '?'.
std::optional<QByteArray> convert(const char* to, const char* from, const QByteArray& in, bool strict, int unitSize)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    QByteArray out;
    out.resize(in.size() * 4 + 16);
    char* inPtr = const_cast<char*>(in.constData());
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = static_cast<size_t>(out.size() - used);
            continue;
        }
        if (strict) {
            ok = false;
            break;
        }
        // Skip one unconvertible input unit and put a question mark in its place.
        if (outLeft < 1) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = static_cast<size_t>(out.size() - used);
        }
        *outPtr++ = '?';
        --outLeft;
        const size_t skip = std::min<size_t>(inLeft, static_cast<size_t>(unitSize));
        inPtr += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(outPtr - out.data());
    return out;
}

} // namespace

namespace TextFile {

namespace {
// Past a file-size limit the kernel would kill the station; a failed write is what we want.
// Set before every write (one cheap call), so no later change of the disposition undoes it.
void ignoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool isAscii(const char* p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}
} // namespace

std::optional<QString> decode(const QByteArray& bytes)
{
    // ASCII is the same in CP932: most lines (data logs, relay files) need no conversion.
    if (isAscii(bytes.constData(), bytes.size()))
        return QString::fromLatin1(bytes);
    auto utf8 = convert("UTF-8", "CP932", bytes, true, 1);
    if (!utf8)
        return std::nullopt;
    return QString::fromUtf8(*utf8);
}

QByteArray encode(const QString& text)
{
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return text.toLatin1();
    // UTF-16 units in, so a skipped unit is two bytes; surrogate pairs give two '?'.
    const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    auto out = convert("CP932", "UTF-16LE", utf16, false, 2);
    return out ? *out : QByteArray();
}

namespace {
// A descriptor of the regular file at path, or -1: opening a FIFO without O_NONBLOCK would
// wait for a writer for ever.
int openRegularFd(const QString& path, struct stat& st)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

bool openRegular(QFile& file, const QString& path)
{
    struct stat st {};
    const int fd = openRegularFd(path, st);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

std::optional<QByteArray> readBytes(const QString& path)
{
    // Only a regular file of sane size: a device or a huge file would eat the memory.
    struct stat st {};
    const int fd = openRegularFd(path, st);
    if (fd < 0)
        return std::nullopt;
    if (st.st_size > kMaxReadBytes) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        // One byte more than the cap tells a file that grew past it.
        if (got == bytes.size()) {
            if (got > kMaxReadBytes)
                break;
            bytes.resize(std::min<qsizetype>(got * 2 + 1, kMaxReadBytes + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > kMaxReadBytes)
        return std::nullopt;
    bytes.resize(got);
    return bytes;
}

std::optional<QString> readAll(const QString& path)
{
    const auto bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    return decode(*bytes);
}

std::optional<QStringList> readLines(const QString& path)
{
    auto text = readAll(path);
    if (!text)
        return std::nullopt;
    QStringList lines;
    const QString& t = *text;
    qsizetype start = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t[i] == u'\r' || t[i] == u'\n') {
            lines.append(t.mid(start, i - start));
            if (t[i] == u'\r' && i + 1 < t.size() && t[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < t.size())
        lines.append(t.mid(start));
    return lines;
}

namespace {
bool replaceWhole(const QString& path, const QByteArray& bytes, QString* error, int newMode, bool keepMode)
{
    // Our own temporary-write-rename: QSaveFile was seen to report success after a short write.
    ignoreFileSizeSignal();
    auto fail = [&](const char* what) {
        if (error)
            *error = QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    const QFileInfo info(path);
    // An operator who made the file stricter (a password inside) keeps that after every save.
    mode_t mode = mode_t(newMode);
    struct stat old {};
    if (keepMode && ::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &old) == 0 && S_ISREG(old.st_mode))
        mode = old.st_mode & 0777;
    QByteArray tmpl =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(tmpl.data()); // created 0600, so a left-over never shows a password
    if (fd < 0)
        return fail("create");
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            const int saved = errno;
            ::close(fd);
            ::unlink(tmpl.constData());
            errno = saved;
            return fail("write");
        }
        p += n;
        left -= n;
    }
    ::fchmod(fd, mode);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(tmpl.constData());
        errno = saved;
        return fail("flush");
    }
    if (::rename(tmpl.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        const int saved = errno;
        ::unlink(tmpl.constData());
        errno = saved;
        return fail("rename");
    }
    return true;
}
} // namespace

bool writeWholeBytes(const QString& path, const QByteArray& bytes, QString* error, int newMode)
{
    return replaceWhole(path, bytes, error, newMode, true);
}

bool writeWholeWithMode(const QString& path, const QByteArray& bytes, int mode, QString* error)
{
    return replaceWhole(path, bytes, error, mode, false);
}

bool writeWhole(const QString& path, const QString& text, QString* error, int newMode)
{
    return writeWholeBytes(path, encode(text), error, newMode);
}

bool keepCopy(const QString& path)
{
    if (!QFileInfo::exists(path))
        return true;
    const auto bytes = readBytes(path);
    return bytes && writeWholeBytes(path + QStringLiteral(".bak"), *bytes, nullptr, kPrivateMode);
}

void removeStaleTemporaries(const QString& path)
{
    // The names writeWholeBytes gives its temporary files: "." + name + "." + six mkstemp characters.
    const QFileInfo info(path);
    const QDir dir(info.absolutePath());
    const QString prefix = QStringLiteral(".") + info.fileName() + u'.';
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (!name.startsWith(prefix))
            continue;
        const QString suffix = name.mid(prefix.size());
        bool made = suffix.size() == 6;
        for (QChar c : suffix)
            made = made && c.unicode() < 0x80 && c.isLetterOrNumber();
        if (made)
            ::unlink(QFile::encodeName(dir.filePath(name)).constData());
    }
}

bool append(const QString& path, const QString& text)
{
    ignoreFileSizeSignal();
    const QByteArray bytes = encode(text);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        return false;
    struct stat st {};
    // A FIFO or a device in the log's place is not ours to write to.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Usually one write call, so a line is never interleaved with another writer's.
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    bool whole = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            whole = false;
            break;
        }
        p += n;
        left -= n;
    }
    if (!whole) {
        // A full disk or a size limit took part of the line: take it back, so the next line
        // does not start glued to a broken one.
        [[maybe_unused]] const int truncated = ::ftruncate(fd, st.st_size); // nothing more to do if it fails
    }
    const bool closed = ::close(fd) == 0;
    return whole && closed;
}

} // namespace TextFile
