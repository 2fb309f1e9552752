// Monthly archives: months archived and read back line for line, a kill at any point of the
// worker followed by a pass that finishes the work, and the gate's rename at the turn of a month.

#include "shared/DataLogReader.h"
#include "shared/LogArchive.h"
#include "shared/MontComm1.h"
#include "ScriptedMessageBox.h"
#include "SetClock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace DataLog;

namespace {

Seconds at(int y, int m, int d, int h = 0, int mi = 0)
{
    return toSeconds(QDateTime(QDate(y, m, d), QTime(h, mi)));
}

// A line every step seconds from..to, its values drifting as a unit's do.
QStringList minuteLines(Seconds from, Seconds to, int seed, int step = 60)
{
    QStringList lines;
    int level = 300 + seed * 100;
    QByteArray date;
    for (Seconds t = from, day = INT64_MIN; t <= to; t += step) {
        const int s = int(t % 86400);
        if (t - s != day) {
            day = t - s;
            date = fromSeconds(day).toString(QStringLiteral("yyyy/MM/dd")).toLatin1();
        }
        level += int((t / 60 + seed) % 7) - 3;
        lines << QString::asprintf("%s %02d:%02d:%02d,%d,0,0,0,%d,0,0,0,0,0,0,0,%d", date.constData(), s / 3600,
                                   s / 60 % 60, s % 60, level, int(t / 3600) & 1, 22 + seed);
    }
    return lines;
}

void append(const QString& path, const QStringList& lines)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    for (const QString& l : lines)
        f.write(l.toLatin1() + "\r\n");
}

// Three units: unit 1 with two and a half months in one renamed log (a folder just turned to
// archiving), unit 2 with November archived and a late November line among December's, unit 3
// with one month. What each must read back afterwards, in time order.
std::map<int, QStringList> makeFolder(const QString& dir, int step = 60)
{
    std::map<int, QStringList> expected;
    expected[1] = minuteLines(at(2026, 10, 20), at(2026, 12, 31, 23, 59), 1, step);
    append(QDir(dir).filePath(LogArchive::PendingName(1, 202610)), expected[1]);

    const QStringList november = minuteLines(at(2026, 11, 1), at(2026, 11, 30, 23, 58), 2, step);
    const QStringList december = minuteLines(at(2026, 12, 1), at(2026, 12, 31, 23, 59), 2, step);
    const QString late = QStringLiteral("2026/11/30 23:59:30,1,2,3,4,1,0,0,0,0,0,0,0,21");
    append(QDir(dir).filePath(LogArchive::PendingName(2, 202611)), november);
    EXPECT_TRUE(LogArchive::ArchiveLog(QDir(dir).filePath(LogArchive::PendingName(2, 202611))));
    append(QDir(dir).filePath(LogArchive::PendingName(2, 202612)),
           december.mid(0, 10) + QStringList{late} + december.mid(10));
    expected[2] = november + QStringList{late} + december;

    expected[3] = minuteLines(at(2026, 12, 1), at(2026, 12, 31, 23, 59), 3, step);
    append(QDir(dir).filePath(LogArchive::PendingName(3, 202612)), expected[3]);
    return expected;
}

void archiveAll(const QString& dir)
{
    LogArchive::RemoveTemporaries(dir);
    for (const QString& log : LogArchive::FindPending(dir))
        ASSERT_TRUE(LogArchive::ArchiveLog(log)) << log.toStdString();
}

void expectReadBack(const QString& dir, const std::map<int, QStringList>& expected)
{
    EXPECT_TRUE(LogArchive::FindPending(dir).isEmpty());
    for (const auto& [unit, lines] : expected) {
        const QStringList back = RawUnitLines(dir, unit, at(2026, 1, 1), at(2027, 1, 1), 1'000'000);
        ASSERT_EQ(back.size(), lines.size()) << "unit " << unit; // none lost, none doubled
        EXPECT_EQ(back, lines) << "unit " << unit;
    }
}

} // namespace

TEST(LogArchive, MonthsAreArchivedByDayAndReadBackAsOneLog)
{
    QTemporaryDir dir;
    const auto expected = makeFolder(dir.path());
    archiveAll(dir.path());
    expectReadBack(dir.path(), expected);
    const auto logs = LogArchive::FindUnitLogs(dir.path(), 1);
    ASSERT_EQ(logs.archives.size(), 3u); // split by month
    EXPECT_EQ(logs.archives[0].month, 202610);

    // A day is found without the month: a chart of one day reads that day's lines only.
    const Range day = ReadUnit(dir.path(), 3, at(2026, 12, 9), at(2026, 12, 9, 23, 59), 100);
    EXPECT_EQ(day.lines, 24 * 60);
    EXPECT_EQ(day.skipped, 0);
    // The live log goes on where the archives end; ReadMore follows it.
    append(QDir(dir.path()).filePath(DataFiles::DataLogName(3)), minuteLines(at(2027, 1, 1), at(2027, 1, 1, 0, 9), 3));
    Range range = ReadUnit(dir.path(), 3, at(2026, 12, 31, 23, 0), at(2027, 1, 1, 0, 4), 100);
    EXPECT_EQ(range.lines, 60 + 5);
    ReadUnitMore(dir.path(), 3, range, at(2027, 1, 1, 0, 9));
    EXPECT_EQ(range.lastTime, at(2027, 1, 1, 0, 9));

    // A month past its keeping is deleted, the others stay.
    EXPECT_EQ(LogArchive::DeleteExpired(dir.path(), 1, 202612), 1); // unit 1's October
    EXPECT_EQ(LogArchive::FindUnitLogs(dir.path(), 1).archives.size(), 2u);
}

TEST(LogArchive, AKillAtAnyPointIsFinishedByTheNextPass)
{
    QTemporaryDir base;
    const QString templ = QDir(base.path()).filePath(QStringLiteral("template"));
    QDir().mkpath(templ);
    const auto expected = makeFolder(templ, 300);
    const auto copyFolder = [&](const QString& to) {
        QDir().mkpath(to);
        for (const QString& name : QDir(templ).entryList(QDir::Files))
            QFile::copy(QDir(templ).filePath(name), QDir(to).filePath(name));
    };
    // How long a whole pass takes, to spread the kills over it.
    const QString timed = QDir(base.path()).filePath(QStringLiteral("timed"));
    copyFolder(timed);
    const auto t0 = std::chrono::steady_clock::now();
    archiveAll(timed);
    const auto passUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);

    std::mt19937 random(20261209);
    constexpr int Kills = 24;
    for (int k = 0; k < Kills; ++k) {
        const QString run = QDir(base.path()).filePath(QStringLiteral("run%1").arg(k));
        copyFolder(run);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (const QString& log : LogArchive::FindPending(run))
                LogArchive::ArchiveLog(log);
            _exit(0);
        }
        const auto delay = passUs.count() * (k + std::uniform_real_distribution<>(0, 1)(random)) / Kills;
        usleep(useconds_t(delay));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        archiveAll(run);
        SCOPED_TRACE(k);
        expectReadBack(run, expected);
        EXPECT_TRUE(QDir(run).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden).isEmpty());
    }
}

TEST(LogArchive, TheGateRenamesTheLiveLogAtTheTurnOfAMonth)
{
    QTemporaryDir dir;
    SetClock clock{QDateTime(QDate(2026, 11, 30), QTime(23, 59, 58))};
    ScriptedMessageBox messages;
    MontComm1 comm(dir.path(), messages, clock);
    for (int u = 0; u < UnitSlots; ++u)
        comm.units().MarkHeard(u);
    DataLogGate& gate = comm.dataLog();
    const QString live = QDir(dir.path()).filePath(DataFiles::DataLogName(0));
    // Years of lines in the live log when archiving is turned on: renamed at the first line.
    append(live, minuteLines(at(2024, 1, 1), at(2024, 1, 1, 0, 5), 0));
    int renamed = 0;
    gate.setArchiving(true, [&] { ++renamed; });
    const QDateTime t0 = clock.now();
    for (int s = 0; s < 4; ++s) // 23:59:58 .. 00:00:01
        gate.write(0, t0.addSecs(s));
    EXPECT_EQ(renamed, 2);
    const QDir d(dir.path());
    EXPECT_TRUE(d.exists(LogArchive::PendingName(0, 202401)));
    EXPECT_EQ(RawLines(d.filePath(LogArchive::PendingName(0, 202611)), 0, NoClock, 10).size(), 2);
    EXPECT_EQ(RawLines(live, 0, NoClock, 10).size(), 2);
    // A clock set back across the month: the line goes on into the live log, which is not renamed.
    gate.clockChanged();
    gate.write(0, t0);
    EXPECT_EQ(renamed, 2);
    EXPECT_EQ(RawUnitLines(dir.path(), 0, at(2026, 11, 1), at(2026, 12, 2), 10).size(), 5);
}
