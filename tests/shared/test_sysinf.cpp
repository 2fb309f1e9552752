#include "Station.h"

#include "platform/TextFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray Header =
    "\x96\xbc\x8f\xcc,\x82\x68\x82\x6f,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,"
    "RB4,RB5,RB6,RB7,Control,Arm";

QByteArray record(const QByteArray& name, const QByteArray& arm = "non")
{
    return name + ",127.0.0.11,0,1502,0,9600,Ain,non,Ain,non,Din,Dout,non,non,non,non,non,non,On," + arm;
}

QByteArray sysinf(int count, const QByteArray& settings, const QList<QByteArray>& records)
{
    QByteArray text = "sysinf001.csv,Rec= " + QByteArray::number(count) + ",,,,,,,,,,,,,,,,,,\r\n" + settings +
                      ",,,,,,,,,,,,,,\r\n" + Header + "\r\n";
    for (const auto& r : records)
        text += r + "\r\n";
    return text + "\r\n";
}

const QByteArray Settings =
    "MoniterCycl= 5,MoniterCyclType=s,TimeOut= 2,TimeOutCyclType=s,ReloadCycl= 3,ReloadSize= 3,";

} // namespace

TEST(SysInf, SavesExactBytes)
{
    Station st;
    auto& c = st.comm;
    EditSys(c, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    EditSys(c, [&](SysInf::Content& t) { t.MonitorSettings = {5, "s", 2, "s", 3, 3}; });
    const QStringList row = QString::fromUtf8(record("ポンプ１")).split(u',');
    for (int i = 0; i < 20; ++i)
        EditSys(c, [&](SysInf::Content& t) { t.DeviceTable[0][i] = row[i]; });
    ASSERT_TRUE(c.sys().SaveSysInf());
    const QByteArray expected = sysinf(1, Settings, {record("\x83\x7c\x83\x93\x83\x76\x82\x50")});
    EXPECT_EQ(st.readBytes("sysinf001.csv"), expected);
    // twenty fields on line 1, twenty-one on line 2
    const auto lines = st.readBytes("sysinf001.csv").split('\n');
    EXPECT_EQ(lines[0].count(','), 19);
    EXPECT_EQ(lines[1].count(','), 20);
    EXPECT_TRUE(st.messages.shown.empty());
}

TEST(SysInf, RoundTripsTableAndSettings)
{
    Station st;
    auto& c = st.comm;
    EditSys(c, [&](SysInf::Content& t) { t.DeviceCount = 3; });
    EditSys(c, [&](SysInf::Content& t) { t.MonitorSettings = {7, "n", 12, "s", 10, 4}; });
    for (int r = 0; r < 3; ++r) {
        const QStringList row = QString::fromUtf8(record(" 名前" + QByteArray::number(r), "Din: 3:Low")).split(u',');
        for (int i = 0; i < 20; ++i)
            EditSys(c, [&](SysInf::Content& t) { t.DeviceTable[r][i] = row[i]; });
    }
    const auto table = c.sys().DeviceTable();
    ASSERT_TRUE(c.sys().SaveSysInf());
    Station other;
    other.writeBytes("sysinf001.csv", st.readBytes("sysinf001.csv"));
    ASSERT_TRUE(other.comm.sys().LoadSysInf());
    EXPECT_TRUE(other.comm.sys().SysInfValid());
    EXPECT_EQ(other.comm.sys().DeviceCount(), 3);
    EXPECT_EQ(other.comm.sys().MonitorSettings().MoniterCycl, 7);
    EXPECT_EQ(other.comm.sys().MonitorSettings().MoniterCyclType, "n");
    EXPECT_EQ(other.comm.sys().MonitorSettings().TimeOut, 12);
    EXPECT_EQ(other.comm.sys().MonitorSettings().ReloadSize, 4);
    EXPECT_EQ(other.comm.sys().DeviceTable(), table);
    EXPECT_EQ(other.comm.sys().GetArmField(1, 0), "Din");
    EXPECT_EQ(other.comm.sys().GetArmField(1, 1), "3");
    EXPECT_EQ(other.comm.sys().GetArmField(1, 2), "Low");
}

TEST(SysInf, SaveNormalisesPinCells)
{
    Station st;
    auto& c = st.comm;
    EditSys(c, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    EditSys(c, [&](SysInf::Content& t) { t.MonitorSettings = {5, "s", 2, "s", 3, 3}; });
    for (int i = 0; i < 20; ++i)
        EditSys(c, [&](SysInf::Content& t) { t.DeviceTable[0][i] = "x"; });
    EditSys(c, [&](SysInf::Content& t) { t.DeviceTable[0][ColRA0 + 2] = "Din"; });
    EditSys(c, [&](SysInf::Content& t) { t.DeviceTable[0][ColRB0 + 4] = ""; });
    EditSys(c, [&](SysInf::Content& t) { t.DeviceTable[0][ColRB0 + 1] = "Dout"; });
    ASSERT_TRUE(c.sys().SaveSysInf());
    const QList<QByteArray> fields = st.readBytes("sysinf001.csv").split('\n')[3].trimmed().split(',');
    EXPECT_EQ(fields[ColRA0 + 2], "non");
    EXPECT_EQ(fields[ColRB0 + 4], "non");
    EXPECT_EQ(fields[ColRB0 + 1], "Dout");
    EXPECT_EQ(fields[ColName], "x");
}

TEST(SysInf, LoadNormalisesFields)
{
    Station st;
    st.writeBytes(
        "sysinf001.csv",
        sysinf(3, "MoniterCycl=  7 ,MoniterCyclType= s,TimeOut= 2,TimeOutCyclType=s,ReloadCycl= 3,ReloadSize= 3,",
               {" lead,127.0.0.11,,0015, 2.5 , 9600 ,Ain ,non,non,non,Din,Dout,non,non,non,non,non,non,On,Din: 3:Low",
                record("b"), "short,1.2.3.4,,,,,,,,,,,,,,,,,,"}));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    const auto& c = st.comm;
    EXPECT_EQ(c.sys().MonitorSettings().MoniterCycl, 7);
    EXPECT_EQ(c.sys().MonitorSettings().MoniterCyclType, ""); // the single character after the key is a space
    EXPECT_EQ(c.sys().DeviceTable()[0][ColName], " lead");
    EXPECT_EQ(c.sys().DeviceTable()[0][ColLCD], "0");
    EXPECT_EQ(c.sys().DeviceTable()[0][ColIO], "15");
    EXPECT_EQ(c.sys().DeviceTable()[0][ColRS], "2.5");
    EXPECT_EQ(c.sys().DeviceTable()[0][ColBPS], "9600");
    EXPECT_EQ(c.sys().DeviceTable()[0][ColRA0], "Ain");
    EXPECT_EQ(c.sys().GetPinType(0, 5, 0), 2);
    EXPECT_EQ(c.sys().GetPinType(0, 5, 1), -1);
    EXPECT_EQ(c.sys().GetPinType(0, 6, 0), 1);
    EXPECT_EQ(c.sys().GetPinType(0, 6, 1), 0);
    EXPECT_EQ(c.sys().GetPinType(0, 6, 2), -1);
    EXPECT_EQ(c.sys().GetPinType(0, 7, 1), -1);
    EXPECT_EQ(c.sys().GetPinType(3, 6, 0), -1);
    // empty fields are empty cells
    EXPECT_EQ(c.sys().DeviceTable()[2][ColIP], "1.2.3.4");
    EXPECT_EQ(c.sys().DeviceTable()[2][ColIO], "0");
    EXPECT_EQ(c.sys().DeviceTable()[2][ColArm], "");
    for (int r = 3; r < 100; ++r)
        for (int col = 0; col < 20; ++col)
            ASSERT_TRUE(c.sys().DeviceTable()[r][col].isEmpty());
}

TEST(SysInf, ArmKeepsFurtherCommasAndSplitsOnColons)
{
    Station st;
    st.writeBytes("sysinf001.csv", sysinf(1, Settings, {record("a", "Ain: 2:High,extra")}));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    EXPECT_EQ(st.comm.sys().DeviceTable()[0][ColArm], "Ain: 2:High,extra");
    EXPECT_EQ(st.comm.sys().GetArmField(0, 2), "High,extra");
    EXPECT_EQ(st.comm.sys().GetArmField(0, 3), "non");
    EXPECT_EQ(st.comm.sys().GetArmField(1, 0), "non");
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColArm] = "non"; });
    EXPECT_EQ(st.comm.sys().GetArmField(0, 1), "non");
}

TEST(SysInf, EachCheckShowsItsMessage)
{
    struct Case {
        QByteArray file;
        QString message;
    };
    const QByteArray ok = Settings;
    const std::vector<Case> cases = {
        {"SYSINF001.csv,Rec= 1" + sysinf(1, ok, {record("a")}).mid(20), "SysInfo File Type Error"},
        {sysinf(0, ok, {}), "レコードサイズ設定異常"},
        {sysinf(101, ok, {}), "レコードサイズ設定異常"},
        {sysinf(1, "MoniterCycl= 0,MoniterCyclType=s,TimeOut= 2,TimeOutCyclType=s,ReloadCycl= 3,ReloadSize= 3,",
                {record("a")}),
         "モニタ周期設定異常"},
        {sysinf(1, "MoniterCycl= 5,MoniterCyclType=s,TimeOut= 0,TimeOutCyclType=s,ReloadCycl= 3,ReloadSize= 3,",
                {record("a")}),
         "タイムアウト設定異常"},
        {sysinf(1, "MoniterCycl= 5,MoniterCyclType=s,TimeOut= 2,TimeOutCyclType=s,ReloadCycl= -1,ReloadSize= 3,",
                {record("a")}),
         "リトライ周期設定異常"},
        {sysinf(1, "MoniterCycl= 5,MoniterCyclType=s,TimeOut= 2,TimeOutCyclType=s,ReloadCycl= 3,ReloadSize= 0,",
                {record("a")}),
         "リトライ回数設定異常"},
    };
    for (const auto& c : cases) {
        Station st;
        st.writeBytes("sysinf001.csv", c.file);
        EXPECT_FALSE(Reported(st.messages, st.comm.sys().LoadSysInf())) << c.message.toStdString();
        EXPECT_FALSE(st.comm.sys().SysInfValid());
        ASSERT_EQ(st.messages.shown.size(), 1u) << c.message.toStdString();
        EXPECT_EQ(st.messages.shown[0].text, c.message);
        EXPECT_EQ(st.messages.shown[0].icon, MessageBoxService::Icon::None);
        EXPECT_EQ(st.messages.shown[0].buttons, MessageBoxService::Buttons::Ok);
    }
}

TEST(SysInf, ValuesBeforeTheFailingCheckAreKept)
{
    Station st;
    st.writeBytes(
        "sysinf001.csv",
        sysinf(2, "MoniterCycl= 9,MoniterCyclType=n,TimeOut= 0,TimeOutCyclType=s,ReloadCycl= 3,ReloadSize= 3,", {}));
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColName] = "kept"; });
    EXPECT_FALSE(Reported(st.messages, st.comm.sys().LoadSysInf()));
    EXPECT_EQ(st.comm.sys().MonitorSettings().MoniterCycl, 9);
    EXPECT_EQ(st.comm.sys().MonitorSettings().MoniterCyclType, "n");
    EXPECT_EQ(st.comm.sys().DeviceCount(), 2);
    EXPECT_EQ(st.comm.sys().DeviceTable()[0][ColName], "kept");
}

TEST(SysInf, OtherFailuresNameTheirLineAndAreOnlyReplacedWhenTheOperatorSaysSo)
{
    struct Case {
        QByteArray file;
        QString said;
    };
    const std::vector<Case> cases = {
        {QByteArray(), "sysinf001.csv 1 行目がありません"},
        {"sysinf001.csv,Rec= 2,\r\n", "sysinf001.csv 2 行目がありません"},
        // a record missing (the final empty line would count)
        {sysinf(3, Settings, {record("a"), record("b")}).chopped(2), "sysinf001.csv 6 行目がありません"},
        {sysinf(40000, Settings, {}), "sysinf001.csv 1 行目の数値が範囲外です"},
        {sysinf(1, "MoniterCycl= 99999,MoniterCyclType=s,TimeOut= 2,", {record("a")}),
         "sysinf001.csv 2 行目の数値が範囲外です"},
        {"sysinf001.csv,Rec= 1,\r\n" + Settings + "\r\n\x96\xbc\xff\xff\r\n", "sysinf001.csv を読めません"},
        // the header row missing: the first unit is not taken for it
        {sysinf(2, Settings, {record("a"), record("b")}).replace("RB7,Control", "RB7,Ctrl"), "sysinf001.csv 3 行目"},
        {sysinf(2, Settings, {record("a"), "b,1.2.3.4,0,1"}), "sysinf001.csv 5 行目の項目が 20 に足りません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.left(40).toStdString());
        Station st;
        st.writeBytes("sysinf001.csv", sysinf(1, Settings, {record("a")}));
        ASSERT_TRUE(st.comm.sys().LoadSysInf()); // a failing load drops a table that was good
        st.writeBytes("sysinf001.csv", c.file);
        EXPECT_FALSE(Reported(st.messages, st.comm.sys().LoadSysInf()));
        EXPECT_FALSE(st.comm.sys().SysInfValid());
        ASSERT_EQ(st.messages.shown.size(), 1u);
        EXPECT_TRUE(st.messages.shown[0].text.contains(c.said)) << st.messages.shown[0].text.toStdString();
        // The table a settings window then builds replaces the file only on OK, with a copy kept.
        st.messages.answers = {MessageBoxService::Answer::Cancel};
        EXPECT_FALSE(Reported(st.messages, st.comm.sys().SaveSysInf()));
        EXPECT_EQ(st.readBytes("sysinf001.csv"), c.file);
        EXPECT_TRUE(st.comm.sys().SaveSysInf());
        EXPECT_EQ(st.readBytes("sysinf001.csv.bak"), c.file);
        EXPECT_NE(st.readBytes("sysinf001.csv"), c.file);
    }
    Station missing;
    EXPECT_FALSE(Reported(missing.messages, missing.comm.sys().LoadSysInf()));
    EXPECT_TRUE(missing.messages.shown.empty());
    EXPECT_TRUE(missing.comm.sys().SaveSysInf()); // a new station asks nothing
    EXPECT_TRUE(missing.messages.shown.empty());
}

TEST(SysInf, RejectedCountNeverDrivesALoopPastTheTable)
{
    Station st;
    st.writeBytes("sysinf001.csv", sysinf(30000, Settings, {}));
    EXPECT_FALSE(Reported(st.messages, st.comm.sys().LoadSysInf()));
    EXPECT_EQ(st.comm.sys().DeviceCount(), 30000);
    EXPECT_EQ(st.comm.sys().unitCount(), 100);
    EXPECT_EQ(st.comm.sys().GetPinType(150, 6, 0), -1);
    EXPECT_EQ(st.comm.sys().GetArmField(150, 0), "non");
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = -4; });
    EXPECT_EQ(st.comm.sys().unitCount(), 0);
    EXPECT_TRUE(st.comm.sys().SaveSysInf());
}

TEST(SysInf, ALoadOfOneHundredUnitsWorks)
{
    Station st;
    QList<QByteArray> rows;
    for (int i = 0; i < 100; ++i)
        rows << record("u" + QByteArray::number(i));
    st.writeBytes("sysinf001.csv", sysinf(100, Settings, rows));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    EXPECT_EQ(st.comm.sys().DeviceTable()[99][ColName], "u99");
    EXPECT_TRUE(st.comm.sys().DeviceTable()[100][ColName].isEmpty());
}

TEST(SysInf, FailedSaveShowsItsMessageAndKeepsTheOldFile)
{
    Station st;
    st.writeBytes("sysinf001.csv", sysinf(1, Settings, {record("a")}));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    const QByteArray before = st.readBytes("sysinf001.csv");
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColName] = "changed"; });
    // The file's directory vanishing stands in for any failure to write.
    SysInf elsewhere(st.path("gone"), st.messages);
    elsewhere.Commit(st.comm.sys().content());
    EXPECT_FALSE(Reported(st.messages, elsewhere.SaveSysInf()));
    ASSERT_EQ(st.messages.shown.size(), 1u);
    EXPECT_EQ(st.messages.shown[0].text, QStringLiteral("システムファイル書き込みエラー"));
    EXPECT_EQ(st.readBytes("sysinf001.csv"), before);
    EXPECT_EQ(elsewhere.DeviceCount(), 1);
}

TEST(SysInf, OnlyARegularFileOfSaneSizeIsLoaded)
{
    // Well-formed but past any real size: the arm cell of one record takes the bulk.
    Station big;
    big.writeBytes("sysinf001.csv", sysinf(1, Settings, {record("a", "non" + QByteArray(17 * 1024 * 1024, ','))}));
    EXPECT_FALSE(Reported(big.messages, big.comm.sys().LoadSysInf()));
    EXPECT_EQ(big.messageTexts().join("").count("sysinf001.csv を読めません"), 1);

    Station zero;
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero.path("sysinf001.csv")));
    EXPECT_FALSE(Reported(zero.messages, zero.comm.sys().LoadSysInf()));

    // A FIFO with no writer: the load fails at once instead of waiting for one. A watchdog
    // thread feeds it an end, so a reader that blocks is a failed test, not a hung one.
    Station fifo;
    const QByteArray fifoPath = QFile::encodeName(fifo.path("sysinf001.csv"));
    ASSERT_EQ(mkfifo(fifoPath.constData(), 0644), 0);
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 50 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done) {
            const int fd = ::open(fifoPath.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(Reported(fifo.messages, fifo.comm.sys().LoadSysInf()));
    done = true;
    watchdog.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(fifo.messageTexts().join("").count("sysinf001.csv を読めません"), 1);
}

TEST(ArmRule, ReadsKindPinAndLevelAndRefusesPinsOfAnotherKind)
{
    Station st;
    struct Case {
        const char* arm;
        AlarmRule::Kind kind;
        int pin;
        bool high;
    };
    const Case cases[] = {
        {"non", AlarmRule::Kind::None, -1, false},           {"Ain: 2:High", AlarmRule::Kind::Analog, 2, true},
        {"Din: 7:Low", AlarmRule::Kind::Digital, 7, false},  {"Ain: 4:High", AlarmRule::Kind::Analog, -1, true},
        {"Din: 8:High", AlarmRule::Kind::Digital, -1, true}, {"Din: x:High", AlarmRule::Kind::Digital, -1, true},
        {"Din:-1:Low", AlarmRule::Kind::Digital, -1, false}, {"Dout: 1:High", AlarmRule::Kind::None, -1, false},
    };
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    for (const auto& c : cases) {
        EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColArm] = QString::fromUtf8(c.arm); });
        const AlarmRule r = st.comm.sys().ArmRule(0);
        EXPECT_EQ(r.kind, c.kind) << c.arm;
        EXPECT_EQ(r.pin, c.pin) << c.arm;
        if (c.kind != AlarmRule::Kind::None) {
            EXPECT_EQ(r.high, c.high) << c.arm;
        }
    }
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColArm] = "Din: 3:High"; });
    EXPECT_EQ(st.comm.sys().ArmRule(0).item(), ItemRB0 + 3);
}
