// The data log reader on generated logs: a day, a year, torn and out-of-order lines, a log
// growing while it is read.

#include "shared/DataLogReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace DataLog;

namespace {

const Seconds Day0 = toSeconds(QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0)));

QByteArray lineAt(Seconds t, int value)
{
    const QDateTime d = fromSeconds(t);
    QByteArray s = d.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")).toLatin1();
    // RA0 carries the value, RB0 its parity, the temperature its negative
    s += ", " + QByteArray::number(value) + ", 0, 0, 0, " + QByteArray::number(value & 1) + ", 0, 0, 0, 0, 0, 0, 0, " +
         QByteArray::number(-value % 1000) + "\r\n";
    return s;
}

// A log of one line a second from start for count seconds, with value = seconds from start.
// The lines are those of lineAt, formatted here without a QDateTime each: a year of them is
// written in a fraction of the time.
void writeLog(const QString& path, Seconds start, int64_t count, int step = 1)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray chunk;
    chunk.reserve((1 << 20) + 256);
    Seconds day = INT64_MIN;
    QByteArray date; // "yyyy/MM/dd " of day
    char buffer[96];
    const auto two = [](char* p, int v) {
        p[0] = char('0' + v / 10);
        p[1] = char('0' + v % 10);
    };
    for (int64_t i = 0; i < count; i += step) {
        const Seconds t = start + i;
        const Seconds secondOfDay = ((t % 86400) + 86400) % 86400;
        if (t - secondOfDay != day) {
            day = t - secondOfDay;
            date = fromSeconds(day).toString(QStringLiteral("yyyy/MM/dd ")).toLatin1();
        }
        two(buffer, int(secondOfDay / 3600));
        buffer[2] = ':';
        two(buffer + 3, int(secondOfDay / 60 % 60));
        buffer[5] = ':';
        two(buffer + 6, int(secondOfDay % 60));
        const int value = int(i % 100000);
        const int n = std::snprintf(buffer + 8, sizeof buffer - 8, ", %d, 0, 0, 0, %d, 0, 0, 0, 0, 0, 0, 0, %d\r\n",
                                    value, value & 1, -value % 1000);
        chunk += date;
        chunk.append(buffer, 8 + n);
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

} // namespace

TEST(DataLogReader, ParsesTheLoggedLineAndRefusesTornOnes)
{
    const QByteArray good = "2026/12/08 10:20:30, 300, 7, 0, -5, 0, 1, 0, 0, 0, 0, 0, 1, 26";
    const auto line = ParseLine(good.constData(), good.constData() + good.size());
    ASSERT_TRUE(line);
    EXPECT_EQ(line->time, toSeconds(QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30))));
    EXPECT_EQ(line->values[RA0], 300);
    EXPECT_EQ(line->values[3], -5);
    EXPECT_EQ(line->values[RB0 + 1], 1);
    EXPECT_EQ(line->values[RB0 + 7], 1);
    EXPECT_EQ(line->values[Temperature], 26);
    for (const QByteArray& bad :
         {QByteArray("2026/12/08 10:20:30, 300, 7"),
          QByteArray("2026/12/08 10:20:30, 300, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, "
                     "1, 26, 9"),
          QByteArray("2026/12/08 10:2"), QByteArray("2026/13/08 10:20:30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0"),
          QByteArray("\0\0\0\0", 4), QByteArray("2026/12/08 10:20:30, x, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0")})
        EXPECT_FALSE(ParseLine(bad.constData(), bad.constData() + bad.size())) << bad.toStdString();
    EXPECT_EQ(fromSeconds(toSeconds(QDateTime(QDate(2031, 2, 28), QTime(23, 59, 59)))),
              QDateTime(QDate(2031, 2, 28), QTime(23, 59, 59)));
}

TEST(DataLogReader, ADayReducesToMinimumAndMaximumPerColumn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("DataFile000.csv");
    writeLog(path, Day0, 86400);
    // the hour from 06:00, in 60 columns of a minute
    const Range r = ReadRange(path, Day0 + 6 * 3600, Day0 + 7 * 3600 - 1, 60);
    EXPECT_EQ(r.width, 60);
    ASSERT_EQ(r.buckets.size(), 60u);
    EXPECT_EQ(r.lines, 3600);
    EXPECT_EQ(r.skipped, 0);
    EXPECT_EQ(r.buckets.front().start, Day0 + 6 * 3600);
    EXPECT_EQ(r.buckets.front().min[RA0], 6 * 3600);
    EXPECT_EQ(r.buckets.front().max[RA0], 6 * 3600 + 59);
    EXPECT_EQ(r.buckets.front().min[RB0], 0);
    EXPECT_EQ(r.buckets.front().max[RB0], 1);
    EXPECT_EQ(r.buckets.back().max[RA0], 7 * 3600 - 1);
    // a range beyond the log, and before it
    EXPECT_TRUE(ReadRange(path, Day0 + 2 * 86400, Day0 + 3 * 86400, 100).buckets.empty());
    EXPECT_TRUE(ReadRange(path, Day0 - 86400, Day0 - 1, 100).buckets.empty());
    EXPECT_TRUE(ReadRange(dir.filePath("none.csv"), Day0, Day0 + 10, 10).fileMissing);
}

TEST(DataLogReader, AYearIsFoundBySeekingNotByReading)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("DataFile001.csv");
    // a year at one line a minute keeps the test quick; the bisection does not care about density
    writeLog(path, Day0, 365 * 86400, 60);
    const Seconds from = Day0 + 200 * 86400 + 3600;
    const Range r = ReadRange(path, from, from + 86400 - 1, 100);
    EXPECT_EQ(r.lines, 1440);
    ASSERT_FALSE(r.buckets.empty());
    EXPECT_EQ(r.buckets.front().start, from);
    EXPECT_EQ(r.buckets.front().min[RA0], int((from - Day0) % 100000));
    // it stops at the first line after the day, having read little more than the day
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    const QByteArray after = lineAt(from + 86400, int((from + 86400 - Day0) % 100000));
    EXPECT_EQ(r.endOffset, all.indexOf(after));
    EXPECT_LT(r.bytesRead, 1440 * after.size() + (1 << 21)); // the day, one chunk and the bisection
    EXPECT_GT(all.size(), 20 * r.bytesRead);
}

TEST(DataLogReader, TornAndOutOfOrderLinesAreSkippedAndCounted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("DataFile002.csv");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(lineAt(Day0 + 0, 10));
    f.write(lineAt(Day0 + 1, 11));
    f.write("2026/01/01 00:00:0");          // torn by a full disk ...
    f.write("\r\n" + lineAt(Day0 + 2, 12)); // ... and the next line after it
    f.write(lineAt(Day0 - 5, 99));          // the clock was set back
    f.write(lineAt(Day0 + 3, 13));
    f.write(QByteArray("\0\0\0\0\0\0\r\n", 8)); // a hole left by a crash
    f.write(lineAt(Day0 + 4, 14));
    f.close();
    const Range r = ReadRange(path, Day0, Day0 + 9, 10);
    EXPECT_EQ(r.lines, 5);
    EXPECT_EQ(r.skipped, 3);
    ASSERT_EQ(r.buckets.size(), 5u);
    EXPECT_EQ(r.buckets[4].last[RA0], 14);
}

TEST(DataLogReader, AGrowingLogIsReadToItsLastWholeLineAndFollowedOnwards)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("DataFile003.csv");
    writeLog(path, Day0, 100);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    const QByteArray next = lineAt(Day0 + 100, 100);
    f.write(next.left(10)); // the writer is in the middle of a line
    f.flush();
    Range r = ReadRange(path, Day0, Day0 + 119, 120);
    EXPECT_EQ(r.lines, 100);
    EXPECT_EQ(r.skipped, 0);

    f.write(next.mid(10));
    for (int i = 101; i < 130; ++i)
        f.write(lineAt(Day0 + i, i));
    f.flush();
    // the range slides 10 seconds on: the first ten buckets go, the new lines come in
    ReadMore(path, r, Day0 + 129);
    EXPECT_EQ(r.from, Day0 + 10);
    EXPECT_EQ(r.buckets.front().start, Day0 + 10);
    EXPECT_EQ(r.buckets.back().start, Day0 + 129);
    EXPECT_EQ(r.buckets.size(), 120u);
    EXPECT_EQ(r.skipped, 0);

    // a log replaced by a shorter one is read afresh
    f.close();
    writeLog(path, Day0 + 100, 5);
    ReadMore(path, r, Day0 + 129);
    EXPECT_EQ(r.buckets.size(), 5u);
}

TEST(DataLogReader, RawLinesAreTheRangesLinesAsWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("DataFile004.csv");
    writeLog(path, Day0, 1000);
    const QStringList lines = RawLines(path, Day0 + 10, Day0 + 14, 100);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0].toLatin1() + "\r\n", lineAt(Day0 + 10, 10));
    EXPECT_EQ(RawLines(path, Day0, Day0 + 999, 7).size(), 7);
}

// Files a reader may meet in a log's place: none blocks it (a hang ends the test by the alarm),
// holds more than a chunk of it, or is read again on every tick.
TEST(DataLogReader, HostileFilesNeitherBlockNorGrowNorAreReadAgain)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("DataFile000.csv"), zero = dir.filePath("DataFile001.csv"),
                  hole = dir.filePath("DataFile002.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(zero).constData()), 0);
    QFile f(hole); // 256 MB without a line end, then a line
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(256 << 20) && f.seek(256 << 20));
    f.write("\r\n" + lineAt(Day0, 1));
    f.close();
    ::alarm(20);
    EXPECT_TRUE(ReadRange(fifo, Day0, Day0 + 9, 10).fileMissing && ReadRange(zero, Day0, Day0 + 9, 10).fileMissing);
    Range r = ReadRange(hole, Day0, Day0 + 9, 10);
    EXPECT_LT(r.bytesRead, 100 << 20); // it gives up on the stretch and goes on from there next time
    for (int tick = 0; tick < 4 && r.lines == 0; ++tick)
        ReadMore(hole, r, Day0 + 9);
    EXPECT_EQ(r.lines, 1);
    EXPECT_LT(r.bytesRead, 300 << 20); // each byte once
    ::alarm(0);
}

TEST(DataLogReader, ALineAheadOfTheClockIsOutOfOrderNotTheEndOfTheRange)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("DataFile005.csv");
    writeLog(path, Day0, 3600);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(lineAt(toSeconds(QDateTime(QDate(2099, 1, 1), QTime(0, 0))), 7));
    for (int i = 3600; i < 7200; ++i)
        f.write(lineAt(Day0 + i, i));
    f.close();
    const Range r = ReadRange(path, Day0, Day0 + 7199, 100, Day0 + 7199);
    EXPECT_EQ(r.lines, 7200);
    EXPECT_EQ(r.skipped, 1);
}
