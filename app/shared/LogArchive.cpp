// Monthly zstd archives of the data logs: the worker's steps and the reading of a day.

#include "shared/LogArchive.h"

#include "shared/DataFiles.h"
#include "shared/DataLogReader.h"
#include "platform/TextFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#include <unordered_map>
#include <zstd.h>

namespace LogArchive {

namespace {

// The index frame before each day: zstd's skippable magic, 8 bytes of ours (the day, the
// length of the data frame that follows), little-endian.
constexpr uint32_t kIndexMagic = 0x184D2A5B;
constexpr int kIndexBytes = 16;
constexpr int64_t kFrameLimit = 32 << 20;      // a day with more (a clock set back) takes two frames
constexpr int64_t kMaxFrameContent = 64 << 20; // a frame claiming more is not one of ours
constexpr int64_t kChunk = 1 << 20;
constexpr int kMaxLine = 64 << 10; // a longer stretch without a line end is cut (it is no log line)

void putLE32(char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}

uint32_t getLE32(const char* p)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(uint8_t(p[i])) << (8 * i);
    return v;
}

int64_t monthStart(int month)
{
    return DataLog::toSeconds(QDateTime(QDate(month / 100, month % 100, 1), QTime(0, 0)));
}

QString unitPrefix(int unit)
{
    return DataFiles::DataLogName(unit).chopped(4); // DataFileNNN
}

// DataFileNNN_YYYYMM.csv, DataFileNNN_YYYYMM_k.csv, DataFileNNN_YYYYMM.csv.zst
const QRegularExpression& logNamePattern()
{
    static const QRegularExpression re(QStringLiteral("^DataFile(\\d{3})_(\\d{6})(?:_(\\d+))?\\.csv(\\.zst)?$"));
    return re;
}

struct LogName {
    int unit = -1;
    int month = 0;
    int copy = 0;
    bool archive = false;
};

std::optional<LogName> parseName(const QString& name)
{
    const auto m = logNamePattern().match(name);
    if (!m.hasMatch() || (m.capturedLength(3) > 0 && m.capturedLength(4) > 0))
        return std::nullopt;
    const int month = m.captured(2).toInt();
    if (month % 100 < 1 || month % 100 > 12)
        return std::nullopt;
    return LogName{m.captured(1).toInt(), month, m.captured(3).toInt(), m.capturedLength(4) > 0};
}

bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool writeAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Lines of a file from an offset to an end offset, each without CR LF; a last line without its
// line end is given too (the file is no longer written).
class Lines {
public:
    Lines(QFile& file, int64_t from, int64_t to) : m_file(file), m_offset(from), m_end(to) { m_file.seek(from); }
    bool next(std::string_view& line)
    {
        for (;;) {
            const qsizetype lf = m_buffer.indexOf('\n', m_pos);
            if (lf >= 0 || m_buffer.size() - m_pos >= kMaxLine || (m_eof && m_pos < m_buffer.size())) {
                const qsizetype stop = lf >= 0 ? lf : std::min<qsizetype>(m_buffer.size(), m_pos + kMaxLine);
                const char* b = m_buffer.constData() + m_pos;
                const char* e = m_buffer.constData() + stop;
                if (e > b && e[-1] == '\r')
                    --e;
                line = std::string_view(b, size_t(e - b));
                const qsizetype next = lf >= 0 ? lf + 1 : stop;
                m_lineStart = m_offset;
                m_offset += next - m_pos;
                m_pos = next;
                return true;
            }
            if (m_eof)
                return false;
            m_buffer.remove(0, m_pos);
            m_pos = 0;
            const int64_t want = std::min<int64_t>(kChunk, m_end - (m_offset + m_buffer.size()));
            const QByteArray more = want > 0 ? m_file.read(want) : QByteArray();
            if (more.isEmpty())
                m_eof = true;
            m_buffer += more;
        }
    }
    int64_t lineStart() const { return m_lineStart; }
    int64_t offset() const { return m_offset; }

private:
    QFile& m_file;
    int64_t m_offset;
    int64_t m_end;
    int64_t m_lineStart = 0;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
};

// The time a line sorts and is filed under: its own, or for a line without one (torn, not a
// log line) the time of the good line before it.
struct TimeKey {
    int64_t last = INT64_MIN; // before any good line: the start of the month being filed
    int64_t operator()(std::string_view line)
    {
        if (const auto t = DataLog::LineTime(line.data(), line.data() + line.size()))
            last = *t;
        return last;
    }
};

// Day frames into a temporary file; hash and size of what went in, for the read-back.
class Writer {
public:
    explicit Writer(QString tempPath) : m_path(std::move(tempPath)) {}
    ~Writer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_ctx)
            ZSTD_freeCCtx(m_ctx);
    }
    bool open()
    {
        m_fd =
            ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        m_ctx = ZSTD_createCCtx();
        if (m_fd < 0 || !m_ctx)
            return fail(errnoText());
        ZSTD_CCtx_setParameter(m_ctx, ZSTD_c_compressionLevel, Level);
        ZSTD_CCtx_setParameter(m_ctx, ZSTD_c_checksumFlag, 1);
        return true;
    }
    bool add(std::string_view line, int64_t day)
    {
        if (!m_buffer.isEmpty() && (day != m_day || m_buffer.size() >= kFrameLimit) && !flush())
            return false;
        m_day = day;
        m_buffer.append(line.data(), qsizetype(line.size()));
        m_buffer.append("\r\n", 2);
        return true;
    }
    bool finish()
    {
        if (!m_buffer.isEmpty() && !flush())
            return false;
        if (::fsync(m_fd) != 0)
            return fail(errnoText());
        const bool closed = ::close(m_fd) == 0;
        m_fd = -1;
        return closed || fail(errnoText());
    }
    QByteArray hash() const { return m_hash.result(); }
    int64_t bytes() const { return m_bytes; }
    const QString& error() const { return m_error; }

private:
    bool flush()
    {
        m_out.resize(qsizetype(ZSTD_compressBound(size_t(m_buffer.size()))) + kIndexBytes);
        const size_t n = ZSTD_compress2(m_ctx, m_out.data() + kIndexBytes, size_t(m_out.size() - kIndexBytes),
                                        m_buffer.constData(), size_t(m_buffer.size()));
        if (ZSTD_isError(n))
            return fail(QString::fromLatin1(ZSTD_getErrorName(n)));
        putLE32(m_out.data(), kIndexMagic);
        putLE32(m_out.data() + 4, 8);
        putLE32(m_out.data() + 8, uint32_t(int32_t(m_day)));
        putLE32(m_out.data() + 12, uint32_t(n));
        if (!writeAll(m_fd, m_out.constData(), kIndexBytes + n))
            return fail(errnoText());
        // Written back a frame at a time, so the final fsync has little left: one long flush
        // would hold up the data logs' appends on the same disk.
        ::sync_file_range(m_fd, m_written, off_t(kIndexBytes + n), SYNC_FILE_RANGE_WRITE);
        m_written += off_t(kIndexBytes + n);
        m_hash.addData(m_buffer);
        m_bytes += m_buffer.size();
        m_buffer.clear();
        return true;
    }
    bool fail(const QString& why)
    {
        m_error = why;
        return false;
    }

    QString m_path;
    int m_fd = -1;
    off_t m_written = 0;
    ZSTD_CCtx* m_ctx = nullptr;
    QByteArray m_buffer, m_out;
    int64_t m_day = 0;
    QCryptographicHash m_hash{QCryptographicHash::Blake2b_256};
    int64_t m_bytes = 0;
    QString m_error;
};

// Every frame of an archive, whole, in order: the day and its content. False when broken.
bool readFrames(const QString& path, int64_t fromDay, int64_t toDay,
                const std::function<void(int64_t day, const QByteArray& content)>& frame)
{
    QFile file;
    if (!TextFile::openRegular(file, path))
        return false;
    ZSTD_DCtx* ctx = ZSTD_createDCtx();
    if (!ctx)
        return false;
    QByteArray packed, content;
    bool ok = true;
    for (int64_t offset = 0;;) {
        file.seek(offset);
        const QByteArray head = file.read(kIndexBytes);
        if (head.isEmpty())
            break;
        if (head.size() != kIndexBytes || getLE32(head.constData()) != kIndexMagic ||
            getLE32(head.constData() + 4) != 8) {
            ok = false;
            break;
        }
        const int64_t day = int32_t(getLE32(head.constData() + 8));
        const int64_t size = getLE32(head.constData() + 12);
        offset += kIndexBytes + size;
        if (day < fromDay || day > toDay)
            continue;
        packed = file.read(size);
        const unsigned long long claimed =
            packed.size() == size ? ZSTD_getFrameContentSize(packed.constData(), size_t(size)) : ZSTD_CONTENTSIZE_ERROR;
        if (claimed == ZSTD_CONTENTSIZE_ERROR || claimed == ZSTD_CONTENTSIZE_UNKNOWN ||
            claimed > uint64_t(kMaxFrameContent)) {
            ok = false;
            break;
        }
        content.resize(qsizetype(claimed));
        const size_t n =
            ZSTD_decompressDCtx(ctx, content.data(), size_t(content.size()), packed.constData(), size_t(size));
        if (ZSTD_isError(n) || n != claimed) {
            ok = false;
            break;
        }
        frame(day, content);
    }
    ZSTD_freeDCtx(ctx);
    return ok;
}

// Hash and size of an archive's content; nothing when it is broken.
std::optional<std::pair<QByteArray, int64_t>> contentHash(const QString& path)
{
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    int64_t bytes = 0;
    if (!readFrames(path, INT64_MIN, INT64_MAX, [&](int64_t, const QByteArray& c) {
            hash.addData(c);
            bytes += c.size();
        }))
        return std::nullopt;
    return std::make_pair(hash.result(), bytes);
}

// A stretch of the renamed log whose lines fall in one month.
struct Run {
    int month = 0;
    int64_t from = 0, to = 0;
    QByteArray hash;
    int64_t bytes = 0;
};

std::vector<Run> findRuns(QFile& file, int fallbackMonth)
{
    std::vector<Run> runs;
    Lines lines(file, 0, file.size());
    std::string_view line;
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    TimeKey key;
    while (lines.next(line)) {
        const int64_t t = key(line);
        const int month = t == INT64_MIN ? fallbackMonth : MonthOf(t);
        if (runs.empty() || runs.back().month != month) {
            if (!runs.empty())
                runs.back().hash = hash.result();
            hash.reset();
            runs.push_back(Run{month, lines.lineStart(), 0, {}, 0});
        }
        hash.addData(QByteArrayView(line.data(), qsizetype(line.size())));
        hash.addData(QByteArrayView("\r\n", 2));
        runs.back().bytes += qsizetype(line.size()) + 2;
        runs.back().to = lines.offset();
    }
    if (!runs.empty())
        runs.back().hash = hash.result();
    return runs;
}

// Writes the lines given by feed into the archive under a temporary name, reads it back,
// compares, renames it into place and syncs the folder.
Outcome writeArchive(const QString& finalPath, const std::function<bool(Writer&)>& feed)
{
    const QFileInfo info(finalPath);
    const QString temp = info.dir().filePath(u'.' + info.fileName() + QStringLiteral(".part"));
    const auto failed = [&](const QString& why) {
        std::remove(QFile::encodeName(temp).constData());
        return Failed(Fault::SettingsFile, info.fileName() + QStringLiteral(": ") + why);
    };
    {
        Writer w(temp);
        if (!w.open() || !feed(w) || !w.finish())
            return failed(w.error().isEmpty() ? QStringLiteral("中断しました") : w.error());
        const auto back = contentHash(temp);
        if (!back || back->first != w.hash() || back->second != w.bytes())
            return failed(QStringLiteral("読み返した内容が一致しません"));
    }
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(finalPath).constData()) != 0)
        return failed(errnoText());
    if (!syncFolder(info.absolutePath()))
        return Failed(Fault::SettingsFile, info.fileName() + QStringLiteral(": ") + errnoText());
    return {};
}

struct LineRef {
    int64_t time;
    std::string_view text;
};

std::vector<LineRef> splitLines(const QByteArray& content, int month)
{
    std::vector<LineRef> out;
    TimeKey key{monthStart(month)};
    const char* p = content.constData();
    const char* end = p + content.size();
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* e = lf ? lf : end;
        const char* t = e > p && e[-1] == '\r' ? e - 1 : e;
        const std::string_view text(p, size_t(t - p));
        out.push_back({key(text), text});
        p = lf ? lf + 1 : end;
    }
    return out;
}

// Lines of the run that the archive does not hold yet are merged into it by time; nothing is
// written when it holds them all (a run archived before a power cut).
Outcome mergeInto(const QString& archivePath, QFile& log, const Run& run, const std::atomic<bool>* cancel)
{
    QByteArray old;
    if (!readFrames(archivePath, INT64_MIN, INT64_MAX, [&](int64_t, const QByteArray& c) { old += c; }))
        return Failed(Fault::SettingsFile, QFileInfo(archivePath).fileName() + QStringLiteral(": 壊れています"));
    log.seek(run.from);
    const QByteArray added = log.read(run.to - run.from);
    std::vector<LineRef> merged = splitLines(old, run.month);
    std::unordered_map<std::string_view, int> held;
    for (const LineRef& l : merged)
        ++held[l.text];
    bool anyNew = false;
    for (const LineRef& l : splitLines(added, run.month)) {
        int& n = held[l.text];
        if (n > 0) {
            --n;
            continue;
        }
        merged.push_back(l);
        anyNew = true;
    }
    if (!anyNew)
        return {};
    if (cancel && *cancel)
        return Failed(Fault::Cancelled);
    std::stable_sort(merged.begin(), merged.end(), [](const LineRef& a, const LineRef& b) { return a.time < b.time; });
    return writeArchive(archivePath, [&](Writer& w) {
        for (const LineRef& l : merged)
            if (!w.add(l.text, DataLog::DayOf(l.time)))
                return false;
        return true;
    });
}

} // namespace

int MonthOf(int64_t seconds)
{
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const int64_t z = DataLog::DayOf(seconds) + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    return int(y * 100 + m);
}

int NextMonth(int month)
{
    return month % 100 == 12 ? (month / 100 + 1) * 100 + 1 : month + 1;
}

QString PendingName(int unit, int month, int copy)
{
    return unitPrefix(unit) + QStringLiteral("_%1").arg(month) +
           (copy > 0 ? QStringLiteral("_%1").arg(copy) : QString()) + QStringLiteral(".csv");
}

QString ArchiveName(int unit, int month)
{
    return unitPrefix(unit) + QStringLiteral("_%1.csv.zst").arg(month);
}

UnitLogs FindUnitLogs(const QString& workDir, int unit)
{
    UnitLogs logs;
    const QDir dir(workDir);
    logs.live = dir.filePath(DataFiles::DataLogName(unit));
    std::vector<std::pair<std::pair<int, int>, QString>> pending;
    for (const QString& name : dir.entryList({unitPrefix(unit) + QStringLiteral("_*")}, QDir::Files | QDir::System)) {
        const auto n = parseName(name);
        if (!n || n->unit != unit)
            continue;
        if (n->archive)
            logs.archives.push_back({n->month, dir.filePath(name)});
        else
            pending.push_back({{n->month, n->copy}, dir.filePath(name)});
    }
    std::sort(logs.archives.begin(), logs.archives.end(),
              [](const auto& a, const auto& b) { return a.month < b.month; });
    std::sort(pending.begin(), pending.end());
    for (const auto& p : pending)
        logs.pending << p.second;
    return logs;
}

QStringList FindPending(const QString& workDir)
{
    const QDir dir(workDir);
    std::vector<std::pair<std::pair<int, int>, QString>> found;
    for (const QString& name : dir.entryList({QStringLiteral("DataFile*_*.csv")}, QDir::Files | QDir::System))
        if (const auto n = parseName(name); n && !n->archive)
            found.push_back({{n->month, n->unit * 1000 + n->copy}, dir.filePath(name)});
    std::sort(found.begin(), found.end());
    QStringList out;
    for (const auto& f : found)
        out << f.second;
    return out;
}

int FirstLineMonth(const QString& path)
{
    QFile file;
    if (!TextFile::openRegular(file, path))
        return 0;
    // A few lines' worth: this runs on the tick, once a unit after a start.
    const QByteArray head = file.read(64 << 10);
    for (qsizetype pos = 0; pos < head.size();) {
        const qsizetype lf = head.indexOf('\n', pos);
        if (lf < 0)
            break;
        if (const auto t = DataLog::LineTime(head.constData() + pos, head.constData() + lf))
            return MonthOf(*t);
        pos = lf + 1;
    }
    return 0;
}

bool RenameLive(const QString& workDir, int unit, int month)
{
    const QDir dir(workDir);
    const QByteArray live = QFile::encodeName(dir.filePath(DataFiles::DataLogName(unit)));
    for (int copy = 0; copy < 100; ++copy) {
        const QByteArray target = QFile::encodeName(dir.filePath(PendingName(unit, month, copy)));
        // Never over a renamed log the worker has not taken yet.
        if (::renameat2(AT_FDCWD, live.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EINVAL && !QFileInfo::exists(QFile::decodeName(target))) // a file system without the flag
            return std::rename(live.constData(), target.constData()) == 0;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool ReadDays(const QString& path, int64_t fromDay, int64_t toDay,
              const std::function<void(const char* begin, const char* end)>& line)
{
    return readFrames(path, fromDay, toDay, [&](int64_t, const QByteArray& content) {
        const char* p = content.constData();
        const char* end = p + content.size();
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            const char* e = lf ? lf : end;
            line(p, e > p && e[-1] == '\r' ? e - 1 : e);
            p = lf ? lf + 1 : end;
        }
    });
}

Outcome ArchiveLog(const QString& path, const std::atomic<bool>* cancel)
{
    const QFileInfo info(path);
    const auto name = parseName(info.fileName());
    if (!name || name->archive)
        return Failed(Fault::SettingsFile, info.fileName() + QStringLiteral(": 名前がログのものではありません"));
    QFile log;
    if (!TextFile::openRegular(log, path))
        return info.exists() ? Failed(Fault::SettingsFile, info.fileName() + QStringLiteral(": 読めません"))
                             : Outcome{};
    for (const Run& run : findRuns(log, name->month)) {
        if (cancel && *cancel)
            return Failed(Fault::Cancelled);
        const QString archive = info.dir().filePath(ArchiveName(name->unit, run.month));
        Outcome done;
        if (!QFileInfo::exists(archive)) {
            done = writeArchive(archive, [&](Writer& w) {
                Lines lines(log, run.from, run.to);
                TimeKey key{monthStart(run.month)};
                std::string_view line;
                while (lines.next(line)) {
                    if ((cancel && *cancel) || !w.add(line, DataLog::DayOf(key(line))))
                        return false;
                }
                return true;
            });
        } else if (const auto held = contentHash(archive);
                   held && held->first == run.hash && held->second == run.bytes) {
            continue; // archived before the run was cut short
        } else {
            done = mergeInto(archive, log, run, cancel);
        }
        if (!done)
            return done;
    }
    log.close();
    if (std::remove(QFile::encodeName(path).constData()) != 0)
        return Failed(Fault::SettingsFile, info.fileName() + QStringLiteral(": ") + errnoText());
    syncFolder(info.absolutePath());
    return {};
}

int DeleteExpired(const QString& workDir, int keepMonths, int nowMonth)
{
    if (keepMonths <= 0)
        return 0;
    const int total = (nowMonth / 100) * 12 + (nowMonth % 100 - 1) - keepMonths;
    const int oldestKept = (total / 12) * 100 + total % 12 + 1;
    QDir dir(workDir);
    int deleted = 0;
    for (const QString& name : dir.entryList({QStringLiteral("DataFile*_*.csv.zst")}, QDir::Files | QDir::System))
        if (const auto n = parseName(name); n && n->archive && n->month < oldestKept && dir.remove(name))
            ++deleted;
    return deleted;
}

void RemoveTemporaries(const QString& workDir)
{
    QDir dir(workDir);
    for (const QString& name :
         dir.entryList({QStringLiteral(".DataFile*.csv.zst.part")}, QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
}

} // namespace LogArchive
