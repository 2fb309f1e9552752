// The station as autostart runs it after a power cut: started with --start it monitors without a
// click; killed, its next start puts on record how long it was down.

#include "shared/AlarmJournal.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "UnitSimProcess.h"

#include <QThread>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(StationStart, StartMonitorsWithoutAClickAndAKillIsOnRecordAtTheNextStart)
{
    UnitSimProcess sim(2);
    ASSERT_TRUE(sim.running()) << sim.error();
    QTemporaryDir dir;
    TextFile::writeWhole(dir.filePath("sysinf001.csv"), sysInfText(simulatedRows(sim, 2)));
    TextFile::writeWhole(dir.filePath("InetInf.ini"), inetInfText(1, {"u0", "u1"}));
    QProcess station;
    station.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    station.setProcessEnvironment(env);
    const auto lines = [&] {
        QFile f(dir.filePath("DataFile001.csv"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
    };
    QElapsedTimer t;
    t.start();
    station.start(TALVERON_STATION_PATH, {"--start"});
    while (lines() < 2 && t.elapsed() < 15000)
        QThread::msleep(20);
    EXPECT_GE(lines(), 2);
    station.kill(); // as a power cut would
    station.waitForFinished();

    station.start(TALVERON_STATION_PATH, {"--bogus"});
    ASSERT_TRUE(station.waitForFinished());
    EXPECT_EQ(station.exitCode(), 2); // an option it does not know: nothing runs
    station.start(TALVERON_STATION_PATH, {});
    QStringList events;
    for (t.restart(); events.size() < 4 && t.elapsed() < 15000; QThread::msleep(20)) {
        events.clear();
        for (const JournalEntry& e : AlarmJournal::Read(dir.filePath(AlarmJournal::FileName)))
            events << e.event;
    }
    station.kill();
    station.waitForFinished();
    EXPECT_EQ(events, QStringList({"起動", "監視開始", "停止中", "起動"}));
    const auto journal = AlarmJournal::Read(dir.filePath(AlarmJournal::FileName));
    ASSERT_EQ(journal.size(), 4u);
    // From the last line logged to the new start.
    EXPECT_TRUE(journal[2].condition.contains(QStringLiteral("～"))) << journal[2].condition.toStdString();
}
