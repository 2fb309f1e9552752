// The alarm journal's lines and the disk watch.

#include "shared/AlarmJournal.h"
#include "shared/DiskWatch.h"
#include "SetClock.h"
#include "platform/TextFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(AlarmJournal, EachEventIsOneWholeLineOfFiveFields)
{
    QTemporaryDir dir;
    SetClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30))};
    AlarmJournal journal(dir.path(), clock);
    const std::pair<JournalEvent, const char*> events[] = {
        {JournalEvent::Raised, "発生"},        {JournalEvent::Acknowledged, "確認"},
        {JournalEvent::Cleared, "復帰"},       {JournalEvent::GivenUp, "通信断"},
        {JournalEvent::Answering, "通信復帰"}, {JournalEvent::MailFailed, "メール送信失敗"}};
    for (const auto& [event, word] : events) {
        EXPECT_EQ(AlarmJournal::EventWord(event), QString::fromUtf8(word));
        EXPECT_TRUE(journal.Record(event, 7, QStringLiteral("ポンプ,1"), QStringLiteral("Din:2:High")));
        clock.advance(1);
    }
    const auto bytes = TextFile::readBytes(journal.path());
    ASSERT_TRUE(bytes);
    // Shift-JIS and CR LF, as the data logs; a comma in a name never makes a sixth field
    EXPECT_EQ(bytes->left(bytes->indexOf('\n') + 1),
              TextFile::encode(QStringLiteral("2026/12/08 10:20:30,007,\"ポンプ,1\",発生,Din:2:High\r\n")));
    const auto entries = AlarmJournal::Read(journal.path());
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[5].event, QStringLiteral("メール送信失敗"));
    EXPECT_EQ(entries[5].unit, 7);
    EXPECT_EQ(entries[5].time, QDateTime(QDate(2026, 12, 8), QTime(10, 20, 35)));
}

// Names a CSV reader would split or a spreadsheet would run: the file holds five fields a line
// and no formula, and the station reads back the names as given.
TEST(AlarmJournal, NamesAreQuotedAndNeverFormulasAndReadBackAsGiven)
{
    QTemporaryDir dir;
    SetClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30))};
    AlarmJournal journal(dir.path(), clock);
    const QString names[] = {QStringLiteral("\"ポンプ"), QStringLiteral("a,b"),  QStringLiteral("=HYPERLINK(\"x\")"),
                             QStringLiteral("@SUM(A1)"), QStringLiteral("-2+3"), QStringLiteral("-5"),
                             QStringLiteral("'=x")};
    for (const QString& name : names)
        ASSERT_TRUE(journal.Record(JournalEvent::Raised, 1, name, QStringLiteral("+1")));
    const QStringList lines = TextFile::readLines(journal.path()).value();
    EXPECT_EQ(lines[0], QStringLiteral("2026/12/08 10:20:30,001,\"\"\"ポンプ\",発生,+1"));
    EXPECT_EQ(lines[2], QStringLiteral("2026/12/08 10:20:30,001,\"'=HYPERLINK(\"\"x\"\")\",発生,+1"));
    EXPECT_EQ(lines[3], QStringLiteral("2026/12/08 10:20:30,001,'@SUM(A1),発生,+1"));
    EXPECT_EQ(lines[4], QStringLiteral("2026/12/08 10:20:30,001,'-2+3,発生,+1"));
    EXPECT_EQ(lines[5], QStringLiteral("2026/12/08 10:20:30,001,-5,発生,+1"));
    QFile f(journal.path()); // a line from before quoting, its quote held as written
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(TextFile::encode(QStringLiteral("2026/12/08 10:20:31,002,\"old,発生,\r\n")));
    f.close();
    const auto entries = AlarmJournal::Read(journal.path());
    ASSERT_EQ(entries.size(), std::size(names) + 1);
    for (size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(entries[i].name, names[i]);
    EXPECT_EQ(entries.back().name, QStringLiteral("\"old"));
}

TEST(AlarmJournal, ReadingTakesWholeLinesOfTheEndAndPassesOverOthers)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(AlarmJournal::FileName);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(TextFile::encode(QStringLiteral("2026/12/08 10:00:00,000,a,発生,\r\n")));
    f.write("not a line\r\n");
    const QByteArray disk = TextFile::encode(QStringLiteral("2026/12/08 10:00:01,,,ディスク残量不足,残り\r\n"));
    const QByteArray torn = TextFile::encode(QStringLiteral("2026/12/08 10:00:02,001,b,発"));
    f.write(disk);
    f.write(torn);
    f.close();
    const auto entries = AlarmJournal::Read(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].unit, -1);
    EXPECT_EQ(entries[1].event, QStringLiteral("ディスク残量不足"));
    // only the end of a large journal is read, from a whole line on
    EXPECT_EQ(AlarmJournal::Read(path, disk.size() + torn.size() + 1).size(), 1u);
    bool older = false;
    EXPECT_EQ(AlarmJournal::Read(path, disk.size() + torn.size(), &older).size(), 0u); // its start is cut off
    EXPECT_TRUE(older);
    EXPECT_TRUE(AlarmJournal::Read(dir.filePath("missing.csv")).empty());
}

TEST(DiskWatch, WarnsEachMinuteBelowTheFloorAndJournalsEachShortageOnce)
{
    constexpr int64_t GB = int64_t(1) << 30;
    EXPECT_FALSE(DiskWarningText({50 * GB, 100 * GB}));
    EXPECT_TRUE(DiskWarningText({9 * GB, 100 * GB})); // under 10 %
    EXPECT_TRUE(DiskWarningText({GB / 2, 2 * GB}));   // under 1 GB
    EXPECT_EQ(*DiskWarningText({GB / 2, 2 * GB}),
              QStringLiteral("  ディスクの空きが少なくなっています：残り 0.5 GB（25％）"));
    // The days left at the rate the disk fills, once ten minutes of it have been seen.
    FillRate rate;
    rate.add(0, 10 * GB);
    rate.add(60'000, 10 * GB - GB / 60);
    EXPECT_FALSE(rate.daysLeft());
    rate.add(3'600'000, 9 * GB); // 1 GB an hour
    ASSERT_TRUE(rate.daysLeft());
    EXPECT_NEAR(*rate.daysLeft(), 9.0 / 24, 0.01);
    rate.add(7'200'000, 20 * GB); // an archive pass gave room back
    EXPECT_FALSE(rate.daysLeft());
    EXPECT_TRUE(DiskWarningText({GB / 2, 2 * GB}, 3.5)->endsWith(QStringLiteral("あと約 3 日で一杯です")));

    QTemporaryDir dir;
    SetClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30))};
    AlarmJournal journal(dir.path(), clock);
    DiskWatch watch(dir.path(), journal);
    DiskSpace space{50 * GB, 100 * GB};
    watch.setProbe([&] { return std::optional<DiskSpace>(space); });
    int warnings = 0;
    int cleared = 0;
    QObject::connect(&watch, &DiskWatch::warning,
                     [&](const QString& text) { ++(text.isEmpty() ? cleared : warnings); });
    watch.check();
    space.available = GB / 4;
    watch.check();
    watch.check();
    space.available = 50 * GB;
    watch.check();
    space.available = GB / 4;
    watch.check();
    EXPECT_EQ(warnings, 3);
    EXPECT_EQ(cleared, 1); // the window takes the warning away
    const auto entries = AlarmJournal::Read(journal.path());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].event, QStringLiteral("ディスク残量不足"));
    // the real disk answers too
    DiskWatch real(dir.path(), journal);
    real.check();
}
