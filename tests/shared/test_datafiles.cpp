#include "Station.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(DataLog, AppendsOneExactLinePerCall)
{
    Station st;
    auto& c = st.comm;
    for (int i = 0; i < 14; ++i)
        c.units().unitItem(i, 3) = 0;
    c.units().unitItem(ItemTemperature, 3) = 2024;
    c.files().WriteDataLog(3);
    const QByteArray line = "2026/12/08 10:20:30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000\r\n";
    EXPECT_EQ(st.readBytes("DataFile003.csv"), line);
    st.clock.advance(1);
    c.units().unitItem(0, 3) = -5;
    c.units().unitItem(13, 3) = 1;
    c.units().unitItem(ItemTemperature, 3) = 51; // 25.2 degrees
    c.files().WriteDataLog(3);
    EXPECT_EQ(st.readBytes("DataFile003.csv"),
              line + "2026/12/08 10:20:31,-5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 25\r\n");
    c.units().unitItem(ItemTemperature, 12) = -3036; // -1500 exactly
    c.files().WriteDataLog(12);
    EXPECT_TRUE(st.readBytes("DataFile012.csv").endsWith(",-1500\r\n"));
    c.files().WriteDataLog(100); // outside the slots: nothing, no crash
    EXPECT_FALSE(QFileInfo::exists(st.path("DataFile100.csv")));
}

TEST(DataLog, ALinkInTheLogsPlaceIsNeverWrittenThrough)
{
    Station st;
    QDir(st.path("")).mkdir("station");
    MontComm1 comm(st.path("station"), st.messages, st.clock);
    st.writeBytes("victim.txt", "keep\n");
    ASSERT_TRUE(QFile::link("../victim.txt", st.path("station/DataFile000.csv")));
    comm.files().WriteDataLog(0);
    EXPECT_EQ(st.readBytes("victim.txt"), "keep\n");
    EXPECT_TRUE(QFileInfo(st.path("station/DataFile000.csv")).isSymLink()); // left for the operator
    comm.files().WriteDataLog(1);                                           // other units log as before
    EXPECT_TRUE(st.readBytes("station/DataFile001.csv").endsWith("\r\n"));
}

TEST(DataLog, HalvesRoundToEven)
{
    Station st;
    st.comm.units().unitItem(ItemTemperature, 0) = 5; // 2.47
    st.comm.files().WriteDataLog(0);
    st.comm.units().unitItem(ItemTemperature, 0) = 253; // 125.0
    st.comm.files().WriteDataLog(0);
    const auto lines = st.readBytes("DataFile000.csv").split('\n');
    EXPECT_TRUE(lines[0].endsWith(", 2\r"));
    EXPECT_TRUE(lines[1].endsWith(", 125\r"));
}

TEST(IsDataFresh, ComparesTheStampWithTheAgeLimit)
{
    Station st;
    EditInet(st.comm, [&](InternetSettings& s) { s.TimeOut = 3; });
    auto relay = [](const QString& date, const QString& time) {
        return QStringLiteral("unit1.txt,Ain,non\r\n") + date + u',' + time + QStringLiteral(",1,2,3\r\n");
    };
    EXPECT_FALSE(st.comm.files().IsDataFresh(relay("26/12/08", "10:15:30"))); // five minutes old
    EXPECT_TRUE(st.comm.files().IsDataFresh(relay("26/12/08", "10:19:30")));  // one minute old
    EXPECT_TRUE(st.comm.files().IsDataFresh(relay("26/12/08", "10:17:30")));  // exactly the limit
    // a clock somewhat ahead still counts, one further ahead than the limit does not
    EXPECT_TRUE(st.comm.files().IsDataFresh(relay("26/12/08", "10:21:30")));
    EXPECT_TRUE(st.comm.files().IsDataFresh(relay("26/12/08", "10:23:30")));
    EXPECT_FALSE(st.comm.files().IsDataFresh(relay("26/12/08", "10:23:31")));
    EXPECT_FALSE(st.comm.files().IsDataFresh(st.clock.now().addYears(10)));
    EXPECT_FALSE(st.comm.files().IsDataFresh(relay("garbage", "10:19:30")));
    EXPECT_FALSE(st.comm.files().IsDataFresh("no line feed"));
    EXPECT_TRUE(st.comm.files().IsDataFresh(st.clock.now().addSecs(-180))); // a stamp read already
    EXPECT_FALSE(st.comm.files().IsDataFresh(st.clock.now().addSecs(-181)));
    EXPECT_FALSE(st.comm.files().IsDataFresh(QDateTime()));
}

TEST(FileUtilities, ExistsDeleteAndFlagFiles)
{
    Station st;
    EXPECT_FALSE(st.comm.files().FileExists("flag1.txt"));
    EXPECT_TRUE(st.comm.files().CreateRelayFile("flag1.txt"));
    EXPECT_EQ(st.readBytes("flag1.txt"), "\r\n");
    EXPECT_TRUE(st.comm.files().FileExists("flag1.txt"));
    st.comm.files().DeleteLocalFile("flag1.txt");
    EXPECT_FALSE(st.comm.files().FileExists("flag1.txt"));
    st.comm.files().DeleteLocalFile("flag1.txt"); // a second delete is silently ignored

    QDir(st.dir.path()).mkdir("share");
    EditInet(st.comm, [&](InternetSettings& s) { s.SendFordername = "share"; });
    EXPECT_TRUE(st.comm.files().CreateRelayFile("flag2.txt"));
    EXPECT_EQ(st.readBytes("share/flag2.txt"), "\r\n");

    EditInet(st.comm, [&](InternetSettings& s) { s.SendFordername = "host\\missing"; });
    EXPECT_FALSE(st.comm.files().CreateRelayFile("flag3.txt"));
    EXPECT_EQ(st.readBytes("flag3.txt"), "\r\n"); // the local file is written all the same
}
