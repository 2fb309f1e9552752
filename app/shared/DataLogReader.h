#pragma once
// Reads a time range of a unit's data log (DataFileNNN.csv) without reading the rest of the
// file: the lines are in time order, so the start of the range is found by bisecting the file
// by byte offset, and only the range is read. The range is reduced to buckets of equal width
// holding each channel's minimum and maximum, so a chart draws at most two points per column
// however long the period. A line that is torn, malformed or earlier than the one before it is
// skipped and counted, and so is a line dated more than a minute after the clock: a single
// line from a wrong clock must not end the range. A log still growing is read up to its last
// whole line; ReadMore takes the lines appended since, from where the last read stopped.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace DataLog {

// The values of a line, in the line's order: RA0..RA3, RB0..RB7, the temperature in °C.
inline constexpr int Channels = 13;
enum Channel : int { RA0 = 0, RB0 = 4, Temperature = 12 };

// Times are the log's wall-clock seconds ("YYYY/MM/DD HH:MM:SS" counted from 1970-01-01 as
// written, without a time zone), so comparing two never converts a date.
using Seconds = int64_t;
// "Now" for a reader that has no clock: no line is ahead of it.
inline constexpr Seconds NoClock = INT64_MAX;
Seconds toSeconds(const QDateTime& t);
// The day of a log time, counted from 1970-01-01.
inline int64_t DayOf(Seconds s)
{
    return s >= 0 ? s / 86400 : (s - 86399) / 86400;
}
QDateTime fromSeconds(Seconds s);

struct Line {
    Seconds time = 0;
    std::array<int32_t, Channels> values{};
};
// One line without its line end; nothing when it is torn or malformed.
std::optional<Line> ParseLine(const char* begin, const char* end);
// The time of a line, read from its stamp alone; nothing when it has none.
std::optional<Seconds> LineTime(const char* begin, const char* end);

struct Bucket {
    Seconds start = 0;
    std::array<int32_t, Channels> min{}, max{}, last{};
    int64_t lines = 0;
};

struct Range {
    Seconds from = 0, to = 0;     // inclusive
    Seconds width = 1;            // seconds per bucket
    std::vector<Bucket> buckets;  // the buckets that hold lines, in time order
    int64_t lines = 0;            // lines taken
    int64_t skipped = 0;          // torn, malformed or out-of-order lines passed over
    int64_t endOffset = 0;        // where the next whole line starts (ReadMore goes on from there)
    Seconds lastTime = INT64_MIN; // the time of the last line taken
    Seconds latest = NoClock;     // a line later than this is out of order
    int64_t bytesRead = 0;        // what finding and reading the range cost
    bool fileMissing = false;
};

// The lines from..to of the log, in buckets of (to - from + 1) / columns seconds or more.
Range ReadRange(const QString& path, Seconds from, Seconds to, int columns, Seconds now = NoClock);
// Moves the range's end to newTo (its start by as many whole buckets, dropping those that fall
// out) and adds the lines appended to the log since it was read.
void ReadMore(const QString& path, Range& range, Seconds newTo, Seconds now = NoClock);

// The raw lines from..to, for copying; at most maxLines (the count of lines in the range may be more).
QStringList RawLines(const QString& path, Seconds from, Seconds to, int maxLines, Seconds now = NoClock);

// The same for a unit's whole log: its monthly archives (each day found without reading the
// month), the logs renamed for archiving and the live log, read as one in time order. A line of a
// later file that belongs before lines already read (written after the clock was set back across
// a month) is merged in by time; within one file such a line is skipped, as above.
Range ReadUnit(const QString& workDir, int unit, Seconds from, Seconds to, int columns, Seconds now = NoClock);
void ReadUnitMore(const QString& workDir, int unit, Range& range, Seconds newTo, Seconds now = NoClock);
QStringList RawUnitLines(const QString& workDir, int unit, Seconds from, Seconds to, int maxLines,
                         Seconds now = NoClock);
// Every good line from..to of a unit's whole log, at most one a second and in time order (a line
// not later than the one before is skipped); the count of lines skipped.
int64_t ForEachUnitLine(const QString& workDir, int unit, Seconds from, Seconds to,
                        const std::function<void(const Line&)>& line, Seconds now = NoClock);

} // namespace DataLog
