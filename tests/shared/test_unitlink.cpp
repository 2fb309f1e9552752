#include "FakeLink.h"
#include "Station.h"

#include <gtest/gtest.h>

namespace {
void oneUnit(MontComm1& c, const QStringList& pins)
{
    SysInf::Content t;
    t.DeviceCount = 1;
    t.MonitorSettings = {1, "s", 7, "s", 1, 1};
    const QStringList head = {"u", "127.0.0.11", "3", "1502", "2", "9600"};
    for (int i = 0; i < 6; ++i)
        t.DeviceTable[0][i] = head[i];
    for (int i = 0; i < 12; ++i)
        t.DeviceTable[0][ColRA0 + i] = pins[i];
    t.DeviceTable[0][ColControl] = "On";
    t.DeviceTable[0][ColArm] = "non";
    c.sys().Commit(t);
    // through the file, as the station gets a table it may use
    ASSERT_TRUE(c.sys().SaveSysInf());
    ASSERT_TRUE(c.sys().LoadSysInf());
}
const QStringList Pins = {"Ain", "non", "Ain", "non", "Din", "Dout", "non", "non", "non", "non", "non", "Din"};
} // namespace

TEST(OpenUnitLink, AimsTheLinkAndWritesEveryDirection)
{
    Station st;
    oneUnit(st.comm, Pins);
    FakeLink link;
    EXPECT_TRUE(st.comm.sys().OpenUnitLink(link, 0));
    EXPECT_EQ(link.log, QStringList({"IP=127.0.0.11", "LcdPort=3", "ParallelPort=1502", "SerialPort=2", "BaudRate=9600",
                                     "TimeOut=7", "SetDirp(5,0,1)", "GetDirp(5,0)", "SetDirp(5,2,1)", "GetDirp(5,2)",
                                     "SetDirp(5,5,1)", "SetDirp(6,0,1)", "GetDirp(6,0)", "SetDirp(6,1,0)",
                                     "GetDirp(6,1)", "SetDirp(6,7,1)", "GetDirp(6,7)"}));
}

TEST(OpenUnitLink, FailsOnAMismatchOrAnError)
{
    Station st;
    oneUnit(st.comm, Pins);
    FakeLink differs;
    differs.dirOverride[{6, 1}] = 1; // an output pin that reads back as input
    EXPECT_FALSE(st.comm.sys().OpenUnitLink(differs, 0));
    EXPECT_EQ(differs.log.last(), "GetDirp(6,1)");

    FakeLink down;
    down.down = true;
    EXPECT_FALSE(st.comm.sys().OpenUnitLink(down, 0));

    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColIO] = "70000"; }); // beyond int16
    FakeLink untouched;
    EXPECT_FALSE(st.comm.sys().OpenUnitLink(untouched, 0));
}

TEST(OpenUnitLink, OutsideTheTableLeavesTheLinkAlone)
{
    Station st;
    oneUnit(st.comm, Pins);
    FakeLink link;
    EXPECT_TRUE(st.comm.sys().OpenUnitLink(link, 1));
    EXPECT_TRUE(st.comm.sys().OpenUnitLink(link, -1));
    st.writeBytes("sysinf001.csv", "broken");
    ASSERT_FALSE(st.comm.sys().LoadSysInf());
    EXPECT_TRUE(st.comm.sys().OpenUnitLink(link, 0));
    EXPECT_TRUE(link.log.isEmpty());
}

TEST(ProbeUnitLink, OneReadWithTimeOutZero)
{
    Station st;
    oneUnit(st.comm, Pins);
    FakeLink link;
    EXPECT_TRUE(st.comm.sys().ProbeUnitLink(link, 0));
    EXPECT_EQ(link.log.mid(5), QStringList({"TimeOut=0", "GetDirp(5,5)"}));
    link.down = true;
    EXPECT_FALSE(st.comm.sys().ProbeUnitLink(link, 0));
}
