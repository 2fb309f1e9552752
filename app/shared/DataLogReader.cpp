// Reading a time range of a data log by seeking, and reducing it to buckets.

#include "shared/DataLogReader.h"

#include "shared/DataFiles.h"
#include "shared/LogArchive.h"
#include "platform/TextFile.h"

#include <QDir>

#include <QFile>
#include <algorithm>

namespace DataLog {

namespace {

constexpr int64_t kChunk = 1 << 20;      // bytes read at a time
constexpr int64_t kBisectStop = 1 << 16; // the last stretch is scanned, not bisected
constexpr int kMaxLine = 4096;           // a longer "line" is not one of ours
// A read gives up after this much without a good line (a hole of zeros, a file that is not a
// log), so no tick sits on it; the next read goes on from there.
constexpr int64_t kMaxJunk = 64 << 20;

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

bool digits(const char* p, int n, int& out)
{
    out = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        out = out * 10 + (p[i] - '0');
    }
    return true;
}

// "YYYY/MM/DD HH:MM:SS" at p.
std::optional<Seconds> parseTime(const char* p, const char* end)
{
    if (end - p < 19 || p[4] != '/' || p[7] != '/' || p[10] != ' ' || p[13] != ':' || p[16] != ':')
        return std::nullopt;
    int y, mo, d, h, mi, s;
    if (!digits(p, 4, y) || !digits(p + 5, 2, mo) || !digits(p + 8, 2, d) || !digits(p + 11, 2, h) ||
        !digits(p + 14, 2, mi) || !digits(p + 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    return daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s;
}

// Whole lines of a file from an offset, read in chunks; a last line without its line end is
// not given (the writer may be in the middle of it). A stretch longer than kMaxLine without a
// line end is dropped as it comes and given as one empty line (one per kMaxJunk bytes), so
// memory stays bounded.
class LineScanner {
public:
    LineScanner(QFile& file, int64_t offset, int64_t& bytesRead)
        : m_file(file)
        , m_offset(offset)
        , m_bytesRead(bytesRead)
    {
        m_file.seek(offset);
    }
    // The next whole line (without CR LF) and the offset it starts at; false at the end.
    bool next(const char*& begin, const char*& end, int64_t& start)
    {
        for (;;) {
            const qsizetype lf = m_buffer.indexOf('\n', m_pos);
            if (lf >= 0) {
                begin = m_buffer.constData() + m_pos;
                end = m_buffer.constData() + lf;
                if (end > begin && end[-1] == '\r')
                    --end;
                if (m_overlongFrom >= 0) { // its tail alone might look like a line
                    begin = end;
                    start = m_overlongFrom;
                    m_overlongFrom = -1;
                } else {
                    start = m_offset;
                }
                m_offset += lf + 1 - m_pos;
                m_pos = lf + 1;
                return true;
            }
            if (m_buffer.size() - m_pos > kMaxLine) {
                if (m_overlongFrom < 0)
                    m_overlongFrom = m_offset;
                m_offset += m_buffer.size() - m_pos;
                m_pos = m_buffer.size();
                if (m_offset - m_overlongFrom > kMaxJunk) { // given as a line, so the caller may stop
                    begin = end = m_buffer.constData() + m_pos;
                    start = m_overlongFrom;
                    m_overlongFrom = -1;
                    return true;
                }
            }
            m_buffer.remove(0, m_pos);
            m_pos = 0;
            const QByteArray more = m_file.read(kChunk);
            if (more.isEmpty())
                return false;
            m_bytesRead += more.size();
            m_buffer += more;
        }
    }
    int64_t offset() const { return m_offset; }

private:
    QFile& m_file;
    int64_t m_offset;
    int64_t& m_bytesRead;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    int64_t m_overlongFrom = -1; // where the line being dropped began
};

// The time of the first good line that starts after offset (at offset itself when 0).
std::optional<Seconds> firstTimeAfter(QFile& file, int64_t offset, int64_t& bytesRead)
{
    file.seek(offset);
    const QByteArray block = file.read(2 * kMaxLine);
    bytesRead += block.size();
    qsizetype pos = 0;
    if (offset > 0) {
        const qsizetype lf = block.indexOf('\n');
        if (lf < 0)
            return std::nullopt;
        pos = lf + 1;
    }
    while (pos < block.size()) {
        const qsizetype lf = block.indexOf('\n', pos);
        if (lf < 0)
            return std::nullopt;
        qsizetype e = lf;
        if (e > pos && block[e - 1] == '\r')
            --e;
        if (const auto line = ParseLine(block.constData() + pos, block.constData() + e))
            return line->time;
        pos = lf + 1;
    }
    return std::nullopt;
}

// The offset of a line start at or before the first line of the range.
int64_t seekStart(QFile& file, Seconds from, int64_t& bytesRead)
{
    int64_t lo = 0, hi = file.size();
    while (hi - lo > kBisectStop) {
        const int64_t mid = lo + (hi - lo) / 2;
        const auto t = firstTimeAfter(file, mid, bytesRead);
        if (t && *t < from)
            lo = mid;
        else
            hi = mid; // a stretch without a good line is scanned rather than guessed over
    }
    if (lo == 0)
        return 0;
    file.seek(lo);
    const QByteArray block = file.read(kMaxLine);
    bytesRead += block.size();
    const qsizetype lf = block.indexOf('\n');
    return lf < 0 ? lo : lo + lf + 1;
}

void take(Range& r, const Line& line)
{
    const Seconds start = r.from + (line.time - r.from) / r.width * r.width;
    if (r.buckets.empty() || r.buckets.back().start != start) {
        Bucket b;
        b.start = start;
        b.min = b.max = line.values;
        r.buckets.push_back(b);
    }
    Bucket& b = r.buckets.back();
    for (int c = 0; c < Channels; ++c) {
        b.min[c] = std::min(b.min[c], line.values[c]);
        b.max[c] = std::max(b.max[c], line.values[c]);
    }
    b.last = line.values;
    ++b.lines;
    ++r.lines;
    r.lastTime = line.time;
}

// A line earlier than lines already taken from an earlier file: into the bucket it belongs to.
void takeEarlier(Range& r, const Line& line)
{
    const Seconds start = r.from + (line.time - r.from) / r.width * r.width;
    auto it = std::lower_bound(r.buckets.begin(), r.buckets.end(), start,
                               [](const Bucket& b, Seconds s) { return b.start < s; });
    if (it == r.buckets.end() || it->start != start) {
        Bucket b;
        b.start = start;
        b.min = b.max = b.last = line.values;
        it = r.buckets.insert(it, b);
    }
    for (int c = 0; c < Channels; ++c) {
        it->min[c] = std::min(it->min[c], line.values[c]);
        it->max[c] = std::max(it->max[c], line.values[c]);
    }
    ++it->lines;
    ++r.lines;
}

// One line of a file whose last line taken was at fileLast.
void consume(Range& r, const Line& line, Seconds& fileLast)
{
    if (line.time < fileLast) {
        ++r.skipped; // a clock set back: the line is out of order
        return;
    }
    fileLast = line.time;
    if (line.time < r.lastTime)
        takeEarlier(r, line);
    else
        take(r, line);
}

// Takes the lines from offset up to r.to into r.
void scan(QFile& file, int64_t offset, Range& r, Seconds& fileLast)
{
    LineScanner lines(file, offset, r.bytesRead);
    const char* begin;
    const char* end;
    int64_t start = offset;
    r.endOffset = offset;
    int64_t lastGood = offset;
    while (lines.next(begin, end, start)) {
        const auto line = ParseLine(begin, end);
        if (!line) {
            if (fileLast != INT64_MIN) // torn lines before the range are none of its business
                ++r.skipped;
            r.endOffset = lines.offset();
            if (r.endOffset - lastGood > kMaxJunk)
                return;
            continue;
        }
        lastGood = lines.offset();
        if (line->time > r.latest) { // ahead of the clock: an end of the range it is not
            ++r.skipped;
            r.endOffset = lines.offset();
            continue;
        }
        if (line->time > r.to) {
            r.endOffset = start; // read again once the range reaches it
            return;
        }
        if (line->time < r.from) {
            if (fileLast != INT64_MIN)
                ++r.skipped; // behind a line already taken: out of order
            r.endOffset = lines.offset();
            continue;
        }
        consume(r, *line, fileLast);
        r.endOffset = lines.offset();
    }
    r.endOffset = lines.offset(); // past a dropped stretch at the end, which is never read again
}

Seconds latestFor(Seconds now)
{
    return now > NoClock - 60 ? NoClock : now + 60;
}

} // namespace

Seconds toSeconds(const QDateTime& t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    return daysFromCivil(d.year(), unsigned(d.month()), unsigned(d.day())) * 86400 + tm.hour() * 3600 +
           tm.minute() * 60 + tm.second();
}

QDateTime fromSeconds(Seconds s)
{
    const int64_t days = s >= 0 ? s / 86400 : (s - 86399) / 86400;
    const int64_t rest = s - days * 86400;
    return QDateTime(QDate(1970, 1, 1).addDays(days), QTime(int(rest / 3600), int(rest / 60 % 60), int(rest % 60)));
}

std::optional<Seconds> LineTime(const char* begin, const char* end)
{
    return parseTime(begin, end);
}

std::optional<Line> ParseLine(const char* p, const char* end)
{
    if (end - p > kMaxLine)
        return std::nullopt;
    const auto time = parseTime(p, end);
    if (!time)
        return std::nullopt;
    Line line;
    line.time = *time;
    p += 19;
    for (int c = 0; c < Channels; ++c) {
        if (p == end || *p != ',')
            return std::nullopt;
        ++p;
        while (p != end && *p == ' ')
            ++p;
        bool negative = false;
        if (p != end && *p == '-') {
            negative = true;
            ++p;
        }
        if (p == end || *p < '0' || *p > '9')
            return std::nullopt;
        int64_t v = 0;
        while (p != end && *p >= '0' && *p <= '9') {
            v = v * 10 + (*p - '0');
            if (v > INT32_MAX)
                return std::nullopt;
            ++p;
        }
        line.values[c] = int32_t(negative ? -v : v);
    }
    while (p != end && *p == ' ')
        ++p;
    if (p != end)
        return std::nullopt;
    return line;
}

namespace {

// Where a range is read from: the live log, and for a unit its archived months before it.
struct Source {
    QString live;
    QString workDir;
    int unit = -1; // none: the live log alone
};

Range emptyRange(Seconds from, Seconds to, int columns, Seconds now)
{
    Range r;
    r.latest = latestFor(now);
    r.from = from;
    r.to = std::max(from, to);
    r.width = std::max<Seconds>(1, (r.to - r.from + 1 + std::max(columns, 1) - 1) / std::max(columns, 1));
    return r;
}

// The archives and renamed logs of the unit that may hold lines of the range.
void readArchived(const Source& src, Range& r)
{
    const auto logs = LogArchive::FindUnitLogs(src.workDir, src.unit);
    const int firstMonth = LogArchive::MonthOf(r.from);
    const int lastMonth = LogArchive::MonthOf(r.to);
    for (const auto& a : logs.archives) {
        if (a.month < firstMonth || a.month > lastMonth)
            continue;
        Seconds fileLast = INT64_MIN;
        const bool whole = LogArchive::ReadDays(a.path, DayOf(r.from), DayOf(r.to), [&](const char* b, const char* e) {
            const auto line = ParseLine(b, e);
            if (!line || line->time > r.latest)
                ++r.skipped;
            else if (line->time >= r.from && line->time <= r.to)
                consume(r, *line, fileLast);
        });
        if (!whole)
            ++r.skipped; // the rest of a broken archive
    }
    for (const QString& path : logs.pending) {
        QFile file;
        if (!TextFile::openRegular(file, path))
            continue;
        Seconds fileLast = INT64_MIN;
        scan(file, seekStart(file, r.from, r.bytesRead), r, fileLast);
    }
}

Range readSource(const Source& src, Seconds from, Seconds to, int columns, Seconds now)
{
    Range r = emptyRange(from, to, columns, now);
    if (src.unit >= 0)
        readArchived(src, r);
    QFile file;
    if (!TextFile::openRegular(file, src.live)) {
        r.fileMissing = src.unit < 0 || r.lines == 0;
        r.endOffset = 0;
        return r;
    }
    Seconds fileLast = INT64_MIN;
    scan(file, seekStart(file, from, r.bytesRead), r, fileLast);
    return r;
}

void readMore(const Source& src, Range& r, Seconds newTo, Seconds now)
{
    r.latest = latestFor(now);
    if (newTo > r.to) {
        // The start moves by whole buckets, so the buckets kept keep their bounds.
        const Seconds steps = (newTo - r.to) / r.width;
        r.from += steps * r.width;
        r.to = newTo;
        const auto keep =
            std::find_if(r.buckets.begin(), r.buckets.end(), [&](const Bucket& b) { return b.start >= r.from; });
        r.buckets.erase(r.buckets.begin(), keep);
    }
    QFile file;
    if (!TextFile::openRegular(file, src.live)) {
        r.fileMissing = src.unit < 0 || r.lines == 0;
        return;
    }
    r.fileMissing = false;
    if (file.size() < r.endOffset) { // the log was replaced or renamed for archiving: read afresh
        r = readSource(src, r.from, r.to, int((r.to - r.from + 1) / r.width), now);
        return;
    }
    Seconds fileLast = r.lastTime;
    scan(file, r.endOffset, r, fileLast);
}

Source unitSource(const QString& workDir, int unit)
{
    return Source{QDir(workDir).filePath(DataFiles::DataLogName(unit)), workDir, unit};
}

} // namespace

Range ReadRange(const QString& path, Seconds from, Seconds to, int columns, Seconds now)
{
    return readSource(Source{path, {}, -1}, from, to, columns, now);
}

void ReadMore(const QString& path, Range& r, Seconds newTo, Seconds now)
{
    readMore(Source{path, {}, -1}, r, newTo, now);
}

Range ReadUnit(const QString& workDir, int unit, Seconds from, Seconds to, int columns, Seconds now)
{
    return readSource(unitSource(workDir, unit), from, to, columns, now);
}

void ReadUnitMore(const QString& workDir, int unit, Range& range, Seconds newTo, Seconds now)
{
    readMore(unitSource(workDir, unit), range, newTo, now);
}

QStringList RawLines(const QString& path, Seconds from, Seconds to, int maxLines, Seconds now)
{
    QStringList out;
    QFile file;
    if (!TextFile::openRegular(file, path))
        return out;
    const Seconds latest = latestFor(now);
    int64_t junkFrom = -1;
    int64_t bytesRead = 0;
    LineScanner lines(file, seekStart(file, from, bytesRead), bytesRead);
    const char* begin;
    const char* end;
    int64_t start;
    while (out.size() < maxLines && lines.next(begin, end, start)) {
        const auto line = ParseLine(begin, end);
        if (!line) {
            junkFrom = junkFrom < 0 ? start : junkFrom;
            if (lines.offset() - junkFrom > kMaxJunk)
                break;
            continue;
        }
        junkFrom = -1;
        if (line->time < from || line->time > latest)
            continue;
        if (line->time > to)
            break;
        out << QString::fromLatin1(begin, end - begin);
    }
    return out;
}

QStringList RawUnitLines(const QString& workDir, int unit, Seconds from, Seconds to, int maxLines, Seconds now)
{
    QStringList out;
    const Seconds latest = latestFor(now);
    const auto logs = LogArchive::FindUnitLogs(workDir, unit);
    for (const auto& a : logs.archives) {
        if (a.month < LogArchive::MonthOf(from) || a.month > LogArchive::MonthOf(to))
            continue;
        LogArchive::ReadDays(a.path, DayOf(from), DayOf(to), [&](const char* b, const char* e) {
            const auto t = LineTime(b, e);
            if (out.size() < maxLines && t && *t >= from && *t <= to && *t <= latest && ParseLine(b, e))
                out << QString::fromLatin1(b, e - b);
        });
    }
    QStringList files = logs.pending;
    files << logs.live;
    for (const QString& path : files)
        if (out.size() < maxLines)
            out << RawLines(path, from, to, maxLines - int(out.size()), now);
    // Lines of a later file that belong before earlier ones (a clock set back) go in their place.
    const auto time = [](const QString& l) { return QStringView(l).left(19); };
    if (!std::is_sorted(out.begin(), out.end(), [&](const QString& a, const QString& b) { return time(a) < time(b); }))
        std::stable_sort(out.begin(), out.end(), [&](const QString& a, const QString& b) { return time(a) < time(b); });
    return out;
}

int64_t ForEachUnitLine(const QString& workDir, int unit, Seconds from, Seconds to,
                        const std::function<void(const Line&)>& line, Seconds now)
{
    const Seconds latest = latestFor(now);
    Seconds last = INT64_MIN;
    int64_t skipped = 0;
    // False once a line is past the range: the rest of that file is later still.
    const auto give = [&](const char* b, const char* e) {
        const auto l = ParseLine(b, e);
        if (!l || l->time > latest) {
            ++skipped;
            return true;
        }
        if (l->time < from)
            return true;
        if (l->time > to)
            return false;
        if (l->time <= last) {
            ++skipped;
            return true;
        }
        last = l->time;
        line(*l);
        return true;
    };
    const auto logs = LogArchive::FindUnitLogs(workDir, unit);
    for (const auto& a : logs.archives)
        if (a.month >= LogArchive::MonthOf(from) && a.month <= LogArchive::MonthOf(to))
            LogArchive::ReadDays(a.path, DayOf(from), DayOf(to), [&](const char* b, const char* e) { give(b, e); });
    QStringList files = logs.pending;
    files << logs.live;
    for (const QString& path : files) {
        QFile file;
        if (!TextFile::openRegular(file, path))
            continue;
        int64_t bytesRead = 0;
        LineScanner lines(file, seekStart(file, from, bytesRead), bytesRead);
        const char* begin;
        const char* end;
        int64_t start;
        while (lines.next(begin, end, start))
            if (!give(begin, end))
                break;
    }
    return skipped;
}

} // namespace DataLog
