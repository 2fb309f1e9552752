// OpenUnitLink and ProbeUnitLink against simulated units.

#include "Station.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {
void aimAt(MontComm1& c, const UnitSimProcess& sim, int unit)
{
    SysInf::Content t;
    t.DeviceCount = 1;
    t.MonitorSettings = {1, "s", 1, "s", 1, 1};
    const QStringList row = {"u",    QString::fromStdString(sim.ip(unit)),
                             "0",    QString::number(sim.port()),
                             "0",    "9600",
                             "Ain",  "non",
                             "Ain",  "Ain",
                             "Din",  "Dout",
                             "non",  "Din",
                             "Dout", "non",
                             "non",  "non",
                             "On",   "non"};
    for (int i = 0; i < 20; ++i)
        t.DeviceTable[0][i] = row[i];
    c.sys().Commit(t);
    ASSERT_TRUE(c.sys().SaveSysInf());
    ASSERT_TRUE(c.sys().LoadSysInf());
}
} // namespace

TEST(UnitLinkOnSimulator, OpensAndProbesAHealthyUnit)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    Station st;
    aimAt(st.comm, sim, 0);
    VARNIX link;
    EXPECT_TRUE(st.comm.sys().OpenUnitLink(link, 0));
    EXPECT_EQ(link.GetDirp(6, 1), 0);
    EXPECT_EQ(link.GetDirp(6, 3), 1);
    EXPECT_EQ(link.GetDirp(5, 2), 2);
    EXPECT_TRUE(st.comm.sys().ProbeUnitLink(link, 0));
    EXPECT_EQ(link.TimeOut(), 0);
}

TEST(UnitLinkOnSimulator, FailsOnADownMuteOrFaultyUnit)
{
    UnitSimProcess sim(3);
    ASSERT_TRUE(sim.running()) << sim.error();
    ASSERT_TRUE(sim.ok("fault 0 down"));
    ASSERT_TRUE(sim.ok("fault 1 mute"));
    ASSERT_TRUE(sim.ok("fault 2 exception"));
    // The link's waits shortened: TimeOut 1 lasts 150 ms, the probe's TimeOut 0 as long.
    VARNIX::Timings timings;
    timings.timeOutUnitMs = 150;
    timings.zeroTimeOutMs = 150;
    for (int u = 0; u < 3; ++u) {
        Station st;
        aimAt(st.comm, sim, u);
        VARNIX link(SteadyClock::instance(), timings);
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(st.comm.sys().OpenUnitLink(link, 0)) << u;
        // One time-out, not one for each of eight pins; the rest is room for a loaded machine.
        EXPECT_LT(clock.elapsed(), 4 * 150) << u;
        clock.restart();
        EXPECT_FALSE(st.comm.sys().ProbeUnitLink(link, 0)) << u;
        EXPECT_LT(clock.elapsed(), 4 * 150) << u;
    }
}
