// The main window driven by its control names against simulated units.

#include "Rig.h"
#include "UnitSimProcess.h"
#include "WindowDriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <gtest/gtest.h>

namespace {

QList<UnitRow> simRows(const UnitSimProcess& sim, int n, const QString& arm0 = "non")
{
    QList<UnitRow> rows = simulatedRows(sim, n, QStringLiteral("機械"));
    if (n > 0)
        rows[0].arm = arm0;
    return rows;
}

QString panel(MontAll& w, int i)
{
    return w.findChild<QLabel*>(QStringLiteral("Panel%1").arg(i))->text();
}

} // namespace

TEST(MontAll, LoadsShowsStartsPollsAndStops)
{
    UnitSimProcess sim(2);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    auto rows = simRows(sim, 2);
    rows[1].control = "Off";
    rig.files(rows);
    MontAll& w = rig.open();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Talveron  Ver2.1"));
    EXPECT_EQ(rig.name(0), QStringLiteral("機械0"));
    EXPECT_EQ(w.rowLamp(0), Lamp::Off);
    EXPECT_EQ(w.rowLamp(1), Lamp::None); // not monitored: no picture
    EXPECT_EQ(w.rowLamp(2), Lamp::None);
    EXPECT_EQ(panel(w, 1), QStringLiteral(" モニタ周期： 1 秒"));
    EXPECT_EQ(panel(w, 2), QStringLiteral("  通信モード ： ＬＡＮ"));
    EXPECT_EQ(rig.button("Command2_0")->text(), QStringLiteral("開始"));
    EXPECT_FALSE(rig.button("BeepReset")->isVisible());

    ASSERT_TRUE(sim.ok("ain 0 0 321"));
    EXPECT_EQ(rig.cycle().Timer2.interval(), 1000); // ReloadCycl seconds
    rig.start();
    EXPECT_EQ(rig.button("Command2_0")->text(), QStringLiteral("停止"));
    EXPECT_TRUE(rig.cycle().Timer1.isActive());
    EXPECT_TRUE(rig.cycle().Timer2.isActive());
    EXPECT_EQ(w.rowLamp(0), Lamp::On); // the start polls at once
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 321);
    rig.tick();
    EXPECT_EQ(w.rowLamp(0), Lamp::On);
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 1), 0); // the unmonitored unit is never polled
    EXPECT_EQ(w.rowLamp(1), Lamp::None);
    // both units got a data log line for the start tick and this one
    EXPECT_EQ(rig.st.readBytes("DataFile000.csv").count('\n'), 2);
    EXPECT_EQ(rig.st.readBytes("DataFile001.csv").count('\n'), 2);

    rig.start(); // stop
    EXPECT_EQ(rig.button("Command2_0")->text(), QStringLiteral("開始"));
    EXPECT_FALSE(rig.cycle().Timer1.isActive());
    EXPECT_FALSE(rig.cycle().Timer2.isActive());
    EXPECT_EQ(w.rowLamp(0), Lamp::Off);
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 0);
}

TEST(MontAll, NoUnitsMeansNoStart)
{
    Rig<> rig;
    rig.open(); // no files at all
    EXPECT_EQ(panel(*rig.window, 1), QStringLiteral(" システム情報ファイルに異常が認められます・・・"));
    rig.start();
    EXPECT_FALSE(rig.cycle().Timer1.isActive());
    EXPECT_TRUE(rig.st.messages.shown.empty());
    for (int r = 0; r < 30; ++r)
        EXPECT_EQ(rig.name(r), QString());
}

TEST(MontAll, PagingWithThirtyOneUnits)
{
    Rig<> rig;
    QList<UnitRow> rows;
    for (int i = 0; i < 31; ++i)
        rows << UnitRow{QStringLiteral("u%1").arg(i)};
    rig.files(rows);
    MontAll& w = rig.open();
    EXPECT_EQ(rig.name(29), "u29");
    rig.button("Command1_1")->click();
    EXPECT_EQ(rig.cycle().pageOffset(), 30);
    EXPECT_EQ(rig.name(0), "u30");
    EXPECT_EQ(w.rowLamp(0), Lamp::Off);
    for (int r = 1; r < 30; ++r) {
        EXPECT_EQ(rig.name(r), QString());
        EXPECT_EQ(w.rowLamp(r), Lamp::None);
    }
    rig.button("Command1_1")->click();
    EXPECT_EQ(rig.cycle().pageOffset(), 30);
    rig.button("Command1_0")->click();
    rig.button("Command1_0")->click();
    EXPECT_EQ(rig.cycle().pageOffset(), 0);
    EXPECT_EQ(rig.name(0), "u0");
}

TEST(MontAll, AUnitThatStopsAnsweringIsGivenUpAfterItsRetries)
{
    UnitSimProcess sim(2);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    rig.files(simRows(sim, 2)); // ReloadSize 3
    MontAll& w = rig.open();
    rig.start();
    rig.tick();
    ASSERT_EQ(w.rowLamp(1), Lamp::On);
    ASSERT_TRUE(sim.ok("fault 1 down"));
    rig.tick(); // the tick's poll fails: handed to the retry pass
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 1), 0);
    EXPECT_EQ(w.rowLamp(1), Lamp::On);
    for (int retry = 1; retry <= 4; ++retry) {
        EXPECT_NE(w.rowLamp(1), Lamp::GivenUp) << retry;
        rig.retry();
        EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 1), retry);
    }
    EXPECT_EQ(w.rowLamp(1), Lamp::GivenUp);
    EXPECT_EQ(w.rowTone(1), RowTone::Alert);
    EXPECT_EQ(rig.alarmTexts(), QStringList({"機械1"}));
    // given up: neither timer polls it again, even when it answers once more
    ASSERT_TRUE(sim.ok("fault 1 up"));
    rig.retry();
    rig.tick();
    EXPECT_EQ(w.rowLamp(1), Lamp::GivenUp);
    EXPECT_EQ(rig.mails(), 1);
    EXPECT_EQ(w.rowLamp(0), Lamp::On);
}

TEST(MontAll, AlarmRaiseAcknowledgeClearAndRaiseAgain)
{
    UnitSimProcess sim(2);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    auto rows = simRows(sim, 2, "Din: 2:High");
    rows[1].arm = "Din: 3:Low";
    rig.files(rows, 1, {}, {}, 3, "cam1");
    MontAll& w = rig.open();
    ASSERT_TRUE(sim.ok("din 1 3 1"));
    rig.start();
    rig.tick();
    EXPECT_FALSE(rig.cycle().BeepTimer.isActive());
    EXPECT_EQ(w.rowTone(0), RowTone::Normal);

    ASSERT_TRUE(sim.ok("din 0 2 1"));
    rig.tick();
    EXPECT_EQ(panel(w, 1), QStringLiteral(" アラーム検出：機械0"));
    EXPECT_TRUE(rig.cycle().BeepTimer.isActive());
    EXPECT_EQ(rig.cycle().BeepTimer.interval(), 960);
    EXPECT_TRUE(rig.button("BeepReset")->isVisible());
    EXPECT_EQ(w.rowTone(0), RowTone::Alert);
    EXPECT_EQ(rig.alarmTexts(), QStringList({"機械0"}));
    EXPECT_EQ(rig.st.readBytes("IjyouFile.txt"), QByteArray("!!\r\n")); // the mark was posted after the mail

    rig.tick(); // a standing alarm is raised once
    EXPECT_EQ(rig.mails(), 1);

    rig.button("BeepReset")->click();
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 2);
    EXPECT_FALSE(rig.cycle().BeepTimer.isActive());
    EXPECT_FALSE(rig.button("BeepReset")->isVisible());
    EXPECT_EQ(panel(w, 1), QStringLiteral(" アラーム検出：機械0"));

    ASSERT_TRUE(sim.ok("din 1 3 0")); // the second unit's alarm joins
    rig.tick();
    EXPECT_EQ(panel(w, 1), QStringLiteral(" アラーム検出：機械0，機械1"));
    EXPECT_TRUE(rig.cycle().BeepTimer.isActive());
    EXPECT_EQ(rig.mails(), 2);

    ASSERT_TRUE(sim.ok("din 0 2 0")); // the acknowledged one clears: no mail for a clear
    rig.tick();
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 0);
    EXPECT_EQ(panel(w, 1), QStringLiteral(" アラーム検出：機械1"));
    EXPECT_EQ(w.rowTone(0), RowTone::Normal);
    EXPECT_EQ(rig.mails(), 2);

    ASSERT_TRUE(sim.ok("din 0 2 1")); // and raises again
    rig.tick();
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 1);
    EXPECT_EQ(rig.mails(), 3);

    rig.start(); // stopping clears every alarm
    EXPECT_EQ(panel(w, 1), QStringLiteral(" モニタ周期： 1 秒"));
    EXPECT_FALSE(rig.cycle().BeepTimer.isActive());
    EXPECT_FALSE(rig.button("BeepReset")->isVisible());
}

TEST(MontAll, DataLogLineByteForByte)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    rig.files(simRows(sim, 1));
    rig.open();
    ASSERT_TRUE(sim.ok("ain 0 0 512"));
    ASSERT_TRUE(sim.ok("ain 0 1 7"));
    ASSERT_TRUE(sim.ok("ain 0 5 52")); // 25.69 degrees: rounded, not cut
    for (const char* line : {"din 0 0 0", "din 0 1 1", "din 0 2 0", "din 0 3 0"})
        ASSERT_TRUE(sim.ok(line));
    // The start polls at once and its line waits for the answer: the first line is a reading.
    rig.start();
    // RB4..RB7 are "non" and RB0..RB3 inputs; RB4/RB5 outputs with coils low
    const std::string first("2026/12/08 10:20:30, 512, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 26\r\n");
    EXPECT_EQ(rig.st.readBytes("DataFile000.csv").toStdString(), first);
    ASSERT_TRUE(sim.ok("ain 0 0 300"));
    rig.tick(0); // a second tick in the same second adds no line
    rig.tick();  // the next second's line holds that second's poll
    EXPECT_EQ(rig.st.readBytes("DataFile000.csv").toStdString(),
              first + "2026/12/08 10:20:31, 300, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 26\r\n");
}

TEST(MontAll, SecondInstanceInTheSameDirectoryIsRefused)
{
    Rig<> rig;
    rig.files({UnitRow{"a"}});
    rig.open();
    MontAll second(rig.st.comm, *rig.engine, rig.opener);
    EXPECT_FALSE(second.Load());
    ASSERT_EQ(rig.st.messages.shown.size(), 1u);
    EXPECT_EQ(rig.st.messages.shown[0].text, QStringLiteral("　複数の起動は認めません！　"));
    EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
}

TEST(MontAll, SettingsWindowsAskBeforeStopping)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    rig.files(simRows(sim, 1));
    int opened = 0;
    rig.opener.add(StationWindow::SysEdit, [&](QWidget*, const OpenArgs& args) {
        ++opened;
        EXPECT_TRUE(args.timeOutGroupEnabled); // LAN mode: the main window's group follows it
    });
    rig.open();
    rig.start();
    rig.st.messages.answers = {MessageBoxService::Answer::No};
    rig.button("editcmd")->click();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(rig.cycle().Timer1.isActive());
    ASSERT_EQ(rig.st.messages.shown.size(), 1u);
    EXPECT_EQ(rig.st.messages.shown[0].text, QStringLiteral("モニタを停止します．よろしいですか？"));
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("停止確認"));
    EXPECT_EQ(rig.st.messages.shown[0].buttons, MessageBoxService::Buttons::YesNo);

    rig.st.messages.answers = {MessageBoxService::Answer::Yes};
    rig.button("editcmd")->click();
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(rig.cycle().Timer1.isActive());
    EXPECT_EQ(rig.button("Command2_0")->text(), QStringLiteral("開始"));

    // a window that is not registered: the question, then nothing
    rig.start();
    rig.button("ArmSet")->click();
    EXPECT_FALSE(rig.cycle().Timer1.isActive());
    EXPECT_EQ(rig.st.messages.shown.size(), 3u);
}

TEST(MontAll, UnitDialogsPauseAndRestoreTheTimers)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    rig.files(simRows(sim, 1));
    bool timersDuring = true;
    int unit = -1;
    rig.opener.add(StationWindow::Dialog1, [&](QWidget*, const OpenArgs& args) {
        timersDuring = rig.cycle().Timer1.isActive() || rig.cycle().Timer2.isActive();
        unit = args.unit;
    });
    MontAll& w = rig.open();
    rig.start();
    rig.cycle().Timer2.stop(); // restored as it was, not just switched on

    QMouseEvent press(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(control<QLabel>(w, "Picture1_0"), &press);
    EXPECT_FALSE(timersDuring);
    EXPECT_EQ(unit, 0);
    EXPECT_TRUE(rig.cycle().Timer1.isActive());
    EXPECT_FALSE(rig.cycle().Timer2.isActive());
}

TEST(MontAll, NameClickOpensTheDetailDialogOnlyForMonitoredUnits)
{
    Rig<> rig;
    auto rows = QList<UnitRow>{UnitRow{"a"}, UnitRow{"b"}};
    rows[1].control = "Off";
    rig.files(rows);
    int opened = 0;
    bool readOnShow = true;
    int unit = -1;
    rig.opener.add(StationWindow::Dialog2, [&](QWidget*, const OpenArgs& args) {
        ++opened;
        readOnShow = args.readOnShow;
        unit = args.unit;
    });
    MontAll& w = rig.open();
    auto click = [&](QWidget* target) {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(target, &release);
    };
    click(control<QLineEdit>(w, "DevName_1")); // not monitored
    click(control<QLineEdit>(w, "DevName_2")); // no unit
    EXPECT_EQ(opened, 0);
    click(control<QLineEdit>(w, "DevName_0"));
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(readOnShow); // monitoring was not running
    EXPECT_EQ(unit, 0);
}

TEST(MontAll, ClosingDuringAMailToAServerThatNeverAnswersIsPromptAndFreesTheFolder)
{
    QTcpServer silent; // accepts and never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Rig<FakeLink> rig;
    auto rows = numberedRows(1);
    rows[0].arm = "Din: 2:High";
    rig.files(rows);
    rig.st.writeBytes("InetInf.ini", rig.st.readBytes("InetInf.ini")
                                         .replace("SMTPServerName=",
                                                  "SMTPServerName=127.0.0.1:" + QByteArray::number(silent.serverPort()))
                                         .replace("SendMailName=", "SendMailName=station@example.jp"));
    rig.open();
    SmtpControl smtp;
    rig.st.comm.alarms().setSmtp(&smtp);
    rig.link1.pins = {{2, 1}};
    rig.start(); // the alarm is raised and its mail goes out
    QElapsedTimer waited;
    waited.start();
    while (!silent.hasPendingConnections() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(silent.hasPendingConnections());
    ASSERT_GT(rig.st.comm.alarms().mailsPending(), 0);
    rig.st.comm.alarms().SendAlarmMail(QStringLiteral("queued behind it"));

    QElapsedTimer closing;
    closing.start();
    rig.window->close();
    rig.window.reset();
    MontAll next(rig.st.comm, *rig.engine, rig.opener); // a new start in the same folder
    EXPECT_TRUE(next.Load());
    EXPECT_LT(closing.elapsed(), 2000);
    EXPECT_EQ(rig.st.comm.alarms().mailsPending(), 0);
}

// The history windows open beside the monitoring, which goes on; the disk warning shows in the
// status bar each time the watch finds the disk short.
TEST(MontAll, TheHistoryWindowsOpenWithoutStoppingAndTheDiskWarningShows)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    rig.files(simRows(sim, 1));
    std::vector<StationWindow> opened;
    for (StationWindow which : {StationWindow::Trend, StationWindow::AlarmHistory})
        rig.opener.add(which, [&, which](QWidget*, const OpenArgs&) {
            opened.push_back(which);
            EXPECT_TRUE(rig.cycle().Timer1.isActive());
        });
    MontAll& w = rig.open();
    rig.start();
    rig.button("TrendCmd")->click();
    rig.button("HistoryCmd")->click();
    EXPECT_EQ(opened, (std::vector<StationWindow>{StationWindow::Trend, StationWindow::AlarmHistory}));
    EXPECT_TRUE(rig.st.messages.shown.empty()); // no stop question
    EXPECT_TRUE(rig.cycle().Timer1.isActive());

    constexpr int64_t GB = int64_t(1) << 30;
    w.disk.setProbe([] { return std::optional<DiskSpace>(DiskSpace{GB / 2, 100 * GB}); });
    rig.cycle().SetUnitAlarm(MonitorCycle::AlarmChange::Raise, 0);
    w.disk.check();
    EXPECT_TRUE(w.windowTitle().contains(QStringLiteral("ディスクの空きが少なくなっています")));
    EXPECT_TRUE(control<QStatusBar>(w, "StatusBar1")->currentMessage().isEmpty()); // the alarm line stays in sight
    EXPECT_TRUE(control<QLabel>(w, "Panel1")->isVisible() && panel(w, 1).startsWith(QStringLiteral(" アラーム検出：")));
    w.disk.setProbe([] { return std::optional<DiskSpace>(DiskSpace{50 * GB, 100 * GB}); });
    w.disk.check();
    EXPECT_FALSE(w.windowTitle().contains(QStringLiteral("ディスク")));
    const auto entries = AlarmJournal::Read(rig.st.comm.journal().path());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().event, QStringLiteral("ディスク残量不足"));
}
