// The monitor cycle's rules with scripted links and a clock the test sets.

#include "platform/DateText.h"
#include "FakeLink.h"
#include "Rig.h"

#include <gtest/gtest.h>

namespace {

QList<UnitRow> units(int n)
{
    return numberedRows(n);
}

// How many polls each unit got, read off the link's log (one temperature read per poll).
std::map<QString, int> pollsPerUnit(FakeLink& link)
{
    std::map<QString, int> polls;
    QString ip;
    for (const QString& e : link.log) {
        if (e.startsWith("IP="))
            ip = e.mid(3);
        else if (e == "GetAnalog(5,5)")
            ++polls[ip];
    }
    link.log.clear();
    return polls;
}

} // namespace

TEST(MonitorCycle, EveryHealthyUnitIsPolledOncePerCycle)
{
    Rig<FakeLink> rig;
    rig.files(units(100));
    rig.open();
    rig.start();
    EXPECT_TRUE(pollsPerUnit(rig.link1).empty()); // due one cycle after the start
    for (int cycle = 0; cycle < 5; ++cycle) {
        rig.tick();
        const auto polls = pollsPerUnit(rig.link1);
        ASSERT_EQ(polls.size(), 100u) << cycle;
        for (const auto& [ip, n] : polls)
            EXPECT_EQ(n, 1) << ip.toStdString();
        rig.tick(0); // a second tick within the same second polls nobody
        EXPECT_TRUE(pollsPerUnit(rig.link1).empty());
    }
}

// A unit still out when the next cycle comes (its answer not yet in) is not asked again.
TEST(MonitorCycle, AUnitStillOutIsNotAskedAgainByTheNextTick)
{
    Rig<FakeLink> rig;
    rig.files(units(1));
    rig.open();
    rig.start();
    for (int tick = 0; tick < 2; ++tick) {
        rig.st.clock.advance(1);
        rig.cycle().MonitorTick(); // no events between the ticks: the first answer cannot be in
    }
    EXPECT_TRUE(rig.cycle().inFlight(0));
    QElapsedTimer t;
    t.start();
    while (rig.engine->pending() > 0 && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const auto polls = pollsPerUnit(rig.link1);
    ASSERT_EQ(polls.size(), 1u);
    EXPECT_EQ(polls.begin()->second, 1); // asked once, answered once
}

TEST(MonitorCycle, MinuteCyclesPollOncePerMinute)
{
    Rig<FakeLink> rig;
    rig.files(units(3));
    TextFile::writeWhole(rig.st.path("sysinf001.csv"), sysInfText(units(3), 2, "n"));
    rig.open();
    rig.start();
    rig.tick(60);
    EXPECT_TRUE(pollsPerUnit(rig.link1).empty());
    rig.tick(60);
    EXPECT_EQ(pollsPerUnit(rig.link1).size(), 3u);
    for (int s = 0; s < 59; ++s)
        rig.tick();
    EXPECT_TRUE(pollsPerUnit(rig.link1).empty());
}

TEST(MonitorCycle, APassedDueTimeRunsAndMovesPastNow)
{
    Rig<FakeLink> rig;
    rig.files(units(4));
    rig.open();
    rig.start();
    rig.tick(3600); // the machine slept for an hour
    EXPECT_EQ(pollsPerUnit(rig.link1).size(), 4u);
    const auto due = DateText::parseGeneral(rig.st.comm.units().CycleDue(0));
    ASSERT_TRUE(due);
    EXPECT_GT(*due, rig.st.clock.now());
    rig.tick();
    EXPECT_EQ(pollsPerUnit(rig.link1).size(), 4u);

    // a clock set back a day does not stop monitoring either
    rig.st.clock.advance(-86400);
    rig.tick();
    EXPECT_EQ(pollsPerUnit(rig.link1).size(), 4u);
    rig.tick();
    EXPECT_EQ(pollsPerUnit(rig.link1).size(), 4u);
}

TEST(MonitorCycle, LargeRetryCyclesAndTimeOutsDoNotOverflow)
{
    Rig<FakeLink> rig;
    TextFile::writeWhole(rig.st.path("sysinf001.csv"), sysInfText(units(1), 1, "s", 12, "h", 100, 3));
    TextFile::writeWhole(rig.st.path("InetInf.ini"), inetInfText(1, {"a"}));
    rig.open();
    EXPECT_EQ(rig.cycle().Timer2.interval(), 100000);
    EXPECT_EQ(rig.cycle().TimeOutSeconds(), 12 * 3600);
    rig.start();
    rig.tick();
    EXPECT_TRUE(rig.link1.log.contains("TimeOut=43200"));

    TextFile::writeWhole(rig.st.path("sysinf001.csv"), sysInfText(units(1), 1, "s", 32767, "h", 32767, 3));
    rig.cycle().Activate();
    EXPECT_EQ(rig.cycle().Timer2.interval(), 32767000);
    EXPECT_EQ(rig.cycle().TimeOutSeconds(), 32767 * 3600);
}

TEST(MonitorCycle, NextRetryUnitMovesItsCursorByOne)
{
    Rig<FakeLink> rig;
    auto rows = units(5);
    rows[3].control = "Off";
    rig.files(rows);
    rig.open();
    auto& c = rig.st.comm;
    c.units().unitItem(ItemFailureCount, 2) = 0;
    c.units().unitItem(ItemFailureCount, 3) = 0; // not monitored
    c.units().unitItem(ItemFailureCount, 4) = 4; // beyond ReloadSize 3
    EXPECT_EQ(rig.cycle().NextRetryUnit(), 2);
    EXPECT_EQ(rig.cycle().retryCursor(), 1);
    EXPECT_EQ(rig.cycle().NextRetryUnit(), 2);
    EXPECT_EQ(rig.cycle().retryCursor(), 2);
    EXPECT_EQ(rig.cycle().NextRetryUnit(), 2);
    EXPECT_EQ(rig.cycle().NextRetryUnit(), -1);
    EXPECT_EQ(rig.cycle().retryCursor(), 0);
}

TEST(MonitorCycle, RetryPassStopsAtTheFirstFailure)
{
    Rig<FakeLink> rig;
    rig.files(units(4));
    rig.open();
    auto& c = rig.st.comm;
    for (int u : {0, 1, 2})
        c.units().unitItem(ItemFailureCount, u) = 0;
    rig.link1.failing = {"GetAnalog(5,5)"};
    rig.retry();
    EXPECT_EQ(c.units().unitItem(ItemFailureCount, 0), 1);
    EXPECT_EQ(c.units().unitItem(ItemFailureCount, 1), 0);
    rig.link1.failing.clear();
    while (rig.cycle().retryCursor() != 0) // to the end of the pass: the next starts from the first unit
        rig.cycle().NextRetryUnit();
    rig.retry();
    for (int u : {0, 1, 2})
        EXPECT_EQ(c.units().unitItem(ItemFailureCount, u), -1) << u;
}

TEST(MonitorCycle, AFailedPinReadKeepsWhatWasRead)
{
    Rig<FakeLink> rig;
    auto rows = units(1);
    rows[0].pins = "Ain,Ain,non,non,Din,Din,Din,Din,Dout,Dout,Din,non";
    rows[0].arm = "Ain: 0:High";
    rig.files(rows);
    rig.open();
    rig.link1.analog = {{0, 1}, {1, 2}, {5, 50}};
    rig.link1.pins = {{0, 1}, {4, 1}, {6, 1}};
    rig.link1.failing = {"GetPin(6,5)"};
    EXPECT_FALSE(rig.poll(0));
    auto& c = rig.st.comm;
    EXPECT_EQ(c.units().unitItem(0, 0), 1);
    EXPECT_EQ(c.units().unitItem(ItemTemperature, 0), 50);
    EXPECT_EQ(c.units().unitItem(ItemRB0 + 4, 0), 1);
    EXPECT_EQ(c.units().unitItem(ItemRB0 + 6, 0), 0);
    EXPECT_EQ(c.units().unitItem(ItemFailureCount, 0), 0);
    EXPECT_EQ(c.units().unitItem(ItemAlarmFlag, 0), 0); // no evaluation after a failed poll
}

TEST(MonitorCycle, AlarmOnAnalogueHighMeansExactlyOne)
{
    Rig<FakeLink> rig;
    auto rows = units(1);
    rows[0].arm = "Ain: 1:High";
    rig.files(rows);
    rig.open();
    rig.link1.analog = {{1, 2}};
    EXPECT_TRUE(rig.poll(0));
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 0);
    rig.link1.analog = {{1, 1}};
    EXPECT_TRUE(rig.poll(0));
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 1);

    EditSys(rig.st.comm, [&](SysInf::Content& t) {
        t.DeviceTable[0][ColArm] = "Din: x:Low";
    }); // a pin that is not a number fails the poll
    EXPECT_FALSE(rig.poll(0));
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 0), 0);
}

TEST(MonitorCycle, GivenUpUnitsOffThePageAreMailedToo)
{
    Rig<FakeLink> rig;
    rig.files(units(40), 1, {}, {}, 1);
    MontAll& w = rig.open();
    rig.link1.down = true;
    // unit 35 is on the second page; the first page is shown
    EXPECT_FALSE(rig.poll(35));
    EXPECT_FALSE(rig.poll(35));
    EXPECT_FALSE(rig.poll(35));
    EXPECT_EQ(rig.alarmTexts(), QStringList({"u35"}));
    EXPECT_EQ(w.rowLamp(5), Lamp::Off); // row 5 shows unit 5, untouched
}

TEST(MonitorCycle, AFailedAlarmMailOrNoticeLeavesThePollAndTheAlarmAsTheyAre)
{
    Rig<FakeLink> rig;
    auto rows = units(1);
    rows[0].arm = "Din: 2:High";
    rig.files(rows, 1, {}, {}, 3, "cam1"); // no FTP server: the notice fails too
    rig.open();
    rig.smtp.failAt = 0;
    rig.link1.pins = {{2, 1}};
    EXPECT_TRUE(rig.poll(0));
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 0), -1);
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 1);
    EXPECT_TRUE(rig.cycle().BeepTimer.isActive());
    ASSERT_TRUE(rig.st.waitForMail());
    ASSERT_EQ(rig.st.messages.shown.size(), 1u); // the mail's own message, once
    EXPECT_EQ(rig.st.messages.shown[0].text, QStringLiteral("op@example.jp：550 refused"));
}

// A tick three seconds late writes the two it skipped with the values held; a clock set back an
// hour is journalled, and the lines follow it.
TEST(MonitorCycle, ALateTickFillsItsSecondsAndASetClockIsFollowedAndJournalled)
{
    Rig<FakeLink> rig;
    rig.files(units(1));
    rig.open();
    rig.start();
    rig.tick(3);
    rig.st.clock.set(rig.st.clock.now().addSecs(-3600));
    rig.tick();
    QStringList times;
    for (const QByteArray& line : rig.st.readBytes(DataFiles::DataLogName(0)).split('\n'))
        if (!line.isEmpty())
            times << QString::fromLatin1(line.mid(11, 8));
    EXPECT_EQ(times, QStringList({"10:20:30", "10:20:31", "10:20:32", "10:20:33", "09:20:34"}));
    const auto journal = AlarmJournal::Read(rig.st.comm.journal().path());
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].event, QStringLiteral("時刻変更"));
}
