// Two stations side by side: an upload station polling simulated units and a download station
// reading what it relays, over FTP and HTTP on loopback or through a shared folder.

#include "FtpServer.h"
#include "StallingFtp.h"
#include "platform/DateText.h"
#include "shared/DialUpLine.h"
#include "FakeDialUp.h"
#include "HttpServer.h"
#include "RelayStation.h"
#include "UnitSimProcess.h"
#include "WindowDriver.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString CrLf = QStringLiteral("\r\n");

// What the unit's output pin is set to, read over a link of the test's own.
int32_t outputLevel(const UnitSimProcess& sim, int pin)
{
    VARNIX v;
    v.setIP(QString::fromStdString(sim.ip(0)));
    v.setParallelPort(sim.port());
    v.setTimeOut(2);
    return v.GetPin(6, int16_t(pin));
}

// The pins of the unit's rows that are "Dout" are made outputs, as the port setting dialogs do.
void makeOutputs(const UnitSimProcess& sim, int unit = 0)
{
    VARNIX v;
    v.setIP(QString::fromStdString(sim.ip(unit)));
    v.setParallelPort(sim.port());
    v.setTimeOut(2);
    for (int pin : {4, 5})
        v.SetDirp(6, int16_t(pin), 0);
}

QString token()
{
    return InetInf::ScramblePass(QStringLiteral("SET"), QStringLiteral("secret"));
}

struct InternetPair {
    UnitSimProcess sim{1};
    FtpServer ftp;
    HttpServer http{ftp.root()};
    RelayStation up, down;
    QList<UnitRow> rows = simulatedRows(sim, 1, QStringLiteral("機械"));

    explicit InternetPair(const QStringList& ftpOptions = {}) : ftp(QStringLiteral("ftpuser"), ftpOptions)
    {
        EXPECT_TRUE(sim.running() && ftp.ready() && http.ready());
        EXPECT_TRUE(sim.ok("ain 0 0 321"));
        EXPECT_TRUE(sim.ok("ain 0 5 53"));
        EXPECT_TRUE(sim.ok("din 0 0 1"));
        makeOutputs(sim);
        auto aim = [this](InternetSettings& s) {
            s.FTP = QStringLiteral("127.0.0.1");
            s.ProxyPortNo = QString::number(ftp.port());
            s.ID = QStringLiteral("ftpuser");
            s.URL = http.url();
        };
        up.files(rows, 0, aim);
        QList<UnitRow> downRows = rows;
        downRows[0].arm = QStringLiteral("Din: 0:High");
        down.files(downRows, 1, [&](InternetSettings& s) {
            aim(s);
            s.ProxyPortNo.clear(); // the download side fetches only; its FTP sends go to the same server
            s.ProxyPortNo = QString::number(ftp.port());
        });
    }
};

} // namespace

TEST(InternetRelay, TheDownloadSlotShowsTheUnitAndSwitchesItsOutputThroughTheUploadStation)
{
    InternetPair p;
    p.up.start();
    ASSERT_EQ(p.up.status(), QStringLiteral("接続中")) << p.up.st.messageTexts().join(u'|').toStdString();
    EXPECT_EQ(p.ftp.file("ABC1.txt"), QByteArray("\r\n")); // the request file starts idle
    p.up.cycle();
    EXPECT_EQ(p.up.status(), QStringLiteral("接続中"));
    EXPECT_EQ(p.up.screen().values[0], QStringLiteral("321"));
    EXPECT_EQ(p.up.screen().values[4], QStringLiteral(" 26 ℃"));
    const QByteArray sent = p.ftp.file("ABC.txt");
    EXPECT_TRUE(sent.startsWith("ABC.txt,Ain,Ain,non,non,Din,Din,Din,Din,Dout,Dout,non,non\r\n26/12/08,10:20:31,321,"))
        << sent.toStdString();

    p.down.start();
    ASSERT_EQ(p.down.status(), QStringLiteral("接続中")) << p.down.st.messageTexts().join(u'|').toStdString();
    p.down.cycle();
    EXPECT_EQ(p.down.status(), QStringLiteral("接続中"));
    EXPECT_EQ(p.down.screen().values[0], QStringLiteral("321"));
    EXPECT_EQ(p.down.screen().values[2], QString()); // RA2 is not an input: left empty
    EXPECT_EQ(p.down.screen().values[4], QStringLiteral("26 ℃"));
    EXPECT_EQ(p.down.screen().inputLed[0], Led::On);
    // RB0 high is the download side's alarm: it beeps, marks the pin and mails once.
    EXPECT_EQ(p.down.mon.slotAlarm(0), 1);
    EXPECT_TRUE(p.down.mon.beepResetVisible());
    EXPECT_TRUE(p.down.screen().inputAlarm[0]);
    EXPECT_FALSE(p.down.screen().outputAlarm[0]); // RB0 is an input: only its input LED turns red
    ASSERT_EQ(p.down.smtp.sent.size(), 1u);
    p.down.cycle();
    EXPECT_EQ(p.down.smtp.sent.size(), 1u);
    // The download log records the relayed values.
    const QString log = QString::fromLocal8Bit(p.down.st.readBytes(DataFiles::DataLogName(0)));
    EXPECT_TRUE(log.contains(QStringLiteral(", 321, "))) << log.toStdString();

    // RB4 is an output: the flip posts a request, the LED waits.
    ASSERT_TRUE(p.down.screen().switchArmed[4]);
    p.down.flip(4, true);
    const QString request = token() + QStringLiteral(",ABC1.txt,PortB,4,High");
    EXPECT_EQ(QString::fromLatin1(p.ftp.file("ABC1.txt")), request + CrLf);
    EXPECT_EQ(p.down.screen().outputLed[4], Led::Wait);
    EXPECT_FALSE(p.down.st.comm.files().FileExists(QStringLiteral("ABC1.txt"))); // the local copy is gone
    // A second flip while that request waits is refused and the switch returns.
    p.down.flip(5, true);
    EXPECT_EQ(p.down.st.messageTexts().last(), QStringLiteral("前の出力処理が完了していません"));
    EXPECT_FALSE(p.down.screen().switchOn[5]);
    // The waiting LED stays while the relayed level still disagrees.
    p.down.cycle();
    EXPECT_EQ(p.down.screen().outputLed[4], Led::Wait);
    EXPECT_TRUE(p.down.screen().switchOn[4]);

    // The upload station carries it out at its next cycle and resets the request file.
    p.up.cycle();
    EXPECT_EQ(outputLevel(p.sim, 4), 1);
    EXPECT_EQ(p.ftp.file("ABC1.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(p.up.screen().switchOn[4]);
    p.up.cycle();
    p.down.cycle();
    EXPECT_EQ(p.down.screen().outputLed[4], Led::On);
    EXPECT_EQ(p.down.mon.downloadSlot(0)->pendingCount(4), p.down.st.comm.inet().InternetSettings().NotReadSize);
}

// The detail monitor's alarms reach the same journal as the main window's.
TEST(InternetRelay, TheSlotsAlarmsAreJournalled)
{
    InternetPair p;
    p.up.start();
    p.up.cycle();
    p.down.start();
    p.down.cycle(); // RB0 high raises the alarm
    p.down.mon.BeepResetClick();
    ASSERT_TRUE(p.sim.ok("din 0 0 0"));
    p.up.cycle();
    p.down.cycle(); // and its condition goes
    p.down.st.waitForMail();
    QStringList events;
    for (const JournalEntry& e : AlarmJournal::Read(p.down.st.comm.journal().path()))
        events << QStringLiteral("%1 %2 %3 %4").arg(e.unit).arg(e.name, e.event, e.condition);
    const QString name = p.down.st.comm.sys().cell(0, ColName);
    EXPECT_EQ(events, (QStringList{QStringLiteral("0 %1 発生 Din: 0:High").arg(name),
                                   QStringLiteral("0 %1 確認 Din: 0:High").arg(name),
                                   QStringLiteral("0 %1 復帰 Din: 0:High").arg(name)}))
        << events.join(u'\n').toStdString();
    EXPECT_FALSE(QFile::exists(p.up.st.comm.journal().path())); // the upload side had no alarm
}

TEST(InternetRelay, ARaisedAlarmMarksTheCameraFoldersThroughTheSlotsOwnControl)
{
    InternetPair p;
    QDir(p.ftp.root()).mkdir("cam1");
    p.down.st.comm.inet().LoadInetInf();
    EditInet(p.down.st.comm, [&](InternetSettings& s) { s.Camera[0] = QStringLiteral("cam1"); });
    p.down.st.comm.inet().SaveInetInf();
    p.up.start();
    p.up.cycle();
    p.down.start();
    ASSERT_EQ(p.down.status(), QStringLiteral("接続中"));
    EXPECT_TRUE(p.ftp.file("cam1/IjyouFile.txt").isEmpty());
    p.down.cycle(); // RB0 high raises the alarm
    EXPECT_EQ(p.down.mon.slotAlarm(0), 1);
    EXPECT_EQ(p.ftp.file("cam1/IjyouFile.txt"), QByteArray("!!\r\n"));
    EXPECT_EQ(p.down.status(), QStringLiteral("接続中"));
    const int marks = p.ftp.count("STOR");
    p.down.cycle(); // still raised: not marked again
    EXPECT_EQ(p.ftp.count("STOR"), marks);
}

TEST(InternetRelay, ARequestThatNeverTakesEffectReturnsTheSwitchAfterNotReadSizeCycles)
{
    InternetPair p;
    p.up.start();
    p.up.cycle();
    p.down.start();
    p.down.cycle();
    p.down.flip(4, true);
    ASSERT_EQ(p.down.screen().outputLed[4], Led::Wait);
    QFile lost(p.ftp.root("ABC1.txt")); // the request is lost on the way
    ASSERT_TRUE(lost.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lost.write("\r\n");
    lost.close();
    const int notRead = p.down.st.comm.inet().InternetSettings().NotReadSize;
    for (int c = 0; c < notRead; ++c) {
        p.up.cycle();
        p.down.cycle();
        EXPECT_TRUE(p.down.screen().switchOn[4]) << c;
    }
    p.up.cycle();
    p.down.cycle();
    EXPECT_FALSE(p.down.screen().switchOn[4]);
    EXPECT_EQ(p.down.screen().outputLed[4], Led::Off);
    EXPECT_EQ(outputLevel(p.sim, 4), 0);
}

TEST(InternetRelay, StaleDataIsShownButCountsAsAnError)
{
    InternetPair p;
    p.up.start();
    p.up.cycle();
    p.down.start();
    p.down.st.clock.advance(3 * 60 - 1); // with the tick, 2 min 59 s after the stamp
    p.down.cycle();
    EXPECT_EQ(p.down.status(), QStringLiteral("接続中"));
    p.down.st.clock.advance(1);
    p.down.cycle();
    EXPECT_EQ(p.down.status(), QStringLiteral("通信ｴﾗｰ"));
    EXPECT_EQ(p.down.screen().values[0], QStringLiteral("321"));
    p.down.mon.StatBarTick();
    EXPECT_EQ(p.down.mon.panel2(), QStringLiteral("  タイムアウトエラー ： 機械0"));
    p.down.mon.StatBarTick();
    EXPECT_EQ(p.down.mon.panel2(), QStringLiteral("  通信モード ： ダウンロード"));
}

TEST(InternetRelay, AServerRefusingDotNamesGetsFinalNamesAndTheStatusBarSaysSoOnceASlotRun)
{
    InternetPair p({QStringLiteral("--refuse-dot")});
    const QString notice = QStringLiteral("最終ファイル名で直接送信します ： 機械0");
    p.up.mon.Activate();
    for (int run = 0; run < 2; ++run) { // a stop forgets the server: the next run says so again
        p.up.click(0);
        for (int c = 0; c < 3; ++c) { // the start's send, then two cycles'
            p.up.mon.StatBarTick();
            EXPECT_EQ(p.up.mon.panel2().endsWith(notice), c == 0) << run << c;
            p.up.cycle();
        }
        EXPECT_EQ(p.ftp.file("ABC.txt"), p.up.st.readBytes("ABC.txt"));
        p.up.mon.StopSlot(0);
    }
}

namespace {

// A LAN pair: the upload station copies into the download station's working directory.
struct LanPair {
    UnitSimProcess sim{1};
    RelayStation up, down;
    QList<UnitRow> rows = simulatedRows(sim, 1, QStringLiteral("機械"));
    LanPair()
    {
        EXPECT_TRUE(sim.running());
        EXPECT_TRUE(sim.ok("ain 0 1 -7"));
        makeOutputs(sim);
        up.files(rows, 3, [this](InternetSettings& s) { s.SendFordername = down.st.dir.path(); });
        down.files(rows, 2);
    }
};

} // namespace

TEST(LanRelay, TheSendFolderCarriesDataAndRequests)
{
    LanPair p;
    p.up.start();
    ASSERT_EQ(p.up.status(), QStringLiteral("接続中")) << p.up.st.messageTexts().join(u'|').toStdString();
    EXPECT_EQ(p.up.mon.modeText(), QStringLiteral("  通信モード ： ＬＡＮアップロード"));
    EXPECT_EQ(p.down.st.readBytes("ABC1.txt"), QByteArray("\r\n"));
    p.up.cycle();
    EXPECT_EQ(p.up.status(), QStringLiteral("接続中"));
    EXPECT_EQ(p.down.st.readBytes("ABC.txt"), p.up.st.readBytes("ABC.txt"));
    p.down.start();
    ASSERT_EQ(p.down.status(), QStringLiteral("接続中")) << p.down.st.messageTexts().join(u'|').toStdString();
    p.down.cycle();
    EXPECT_EQ(p.down.screen().values[1], QStringLiteral("-7"));

    p.down.flip(12, true); // slot 1: no unit selected there, so nothing happens
    EXPECT_TRUE(p.down.screen(1).switchOn[4] == false);
    p.down.flip(5, true);
    EXPECT_EQ(p.down.st.readBytes("ABC1.txt"), (token() + QStringLiteral(",ABC1.txt,PortB,5,High\r\n")).toLatin1());
    EXPECT_FALSE(QFileInfo(p.down.st.dir.filePath("ABC1.txt")).permissions() & QFileDevice::ReadOther); // the token
    p.up.cycle();
    EXPECT_EQ(outputLevel(p.sim, 5), 1);
    EXPECT_EQ(p.down.st.readBytes("ABC1.txt"), QByteArray("\r\n"));
    p.up.cycle();
    p.down.cycle();
    EXPECT_EQ(p.down.screen().outputLed[5], Led::On);
}

namespace {

// A plain-LAN upload station on one simulated unit, with slot 0 started.
struct PlainLan {
    UnitSimProcess sim{1};
    RelayStation up;
    PlainLan()
    {
        makeOutputs(sim);
        up.files(simulatedRows(sim, 1), 3);
        up.start();
    }
};

} // namespace

TEST(LanRelay, WithoutASendFolderTheFilesStayInTheWorkingDirectory)
{
    PlainLan lan;
    UnitSimProcess& sim = lan.sim;
    RelayStation& up = lan.up;
    ASSERT_EQ(up.status(), QStringLiteral("接続中"));
    EXPECT_EQ(up.mon.modeText(), QStringLiteral("  通信モード ： ＬＡＮ（通常モード）"));
    up.cycle();
    EXPECT_EQ(up.status(), QStringLiteral("接続中"));
    EXPECT_TRUE(up.st.readBytes("ABC.txt").startsWith("ABC.txt,Ain,Ain,"));
    // Outputs are switched directly on the plain LAN.
    up.flip(4, true);
    EXPECT_EQ(outputLevel(sim, 4), 1);
    EXPECT_EQ(up.screen().outputLed[4], Led::On);
    // A white switch (an input pin) flips back at once.
    up.flip(0, true);
    EXPECT_FALSE(up.screen().switchOn[0]);
}

TEST(DownloadStart, ChecksTheUploadSidesParameterLine)
{
    RelayStation down;
    QList<UnitRow> rows = numberedRows(1);
    down.files(rows, 2);
    const QString param = QStringLiteral("ABC.txt,Ain,Ain,non,non,Din,Din,Din,Din,Dout,Dout,non,non");
    down.start();
    EXPECT_EQ(down.st.messageTexts().last(), QStringLiteral("パラメータファイルをダウンロード\r\nできませんでした"));
    EXPECT_EQ(down.status(), QStringLiteral("切断"));

    down.st.writeBytes("ABC.txt", "XYZ.txt,1\r\n2\r\n3\r\n4\r\n");
    down.click(0);
    EXPECT_EQ(down.st.messageTexts().last(), QStringLiteral("パラメータファイルがダウンロードできません\r\n"
                                                            "アップロード側が接続しているか、又は\r\n"
                                                            "通信設定が正しいか確認して下さい"));
    down.st.writeBytes(
        "ABC.txt",
        "ABC.txt,Ain,Din,non,non,Din,Din,Din,Din,Dout,Dout,non,non\r\n26/12/08,10:20:30,1,2,3,4,5,0,0,0,0,0,0,0,0\r\n");
    down.click(0);
    EXPECT_EQ(down.st.messageTexts().last(), QStringLiteral("入出力タイプ設定がアップロード側と\r\n異なっています"));
    EXPECT_EQ(down.status(), QStringLiteral("切断"));
    EXPECT_FALSE(down.mon.slotActive(0));

    down.st.writeBytes("ABC.txt",
                       (param + QStringLiteral("\r\n26/12/08,10:20:30,1,2,3,4,5,0,0,0,0,0,0,0,0\r\n")).toLatin1());
    const size_t shown = down.st.messages.shown.size();
    down.click(0);
    EXPECT_EQ(down.st.messages.shown.size(), shown);
    EXPECT_EQ(down.status(), QStringLiteral("接続中"));
}

TEST(DownloadCycle, UntrustedRelayFilesFailTheReadAndNothingElse)
{
    RelayStation down;
    QList<UnitRow> rows = numberedRows(1);
    rows[0].pins = QStringLiteral("Ain,non,Ain,non,Din,Din,Din,Din,Dout,Dout,non,non");
    down.files(rows, 2);
    const QByteArray param = "ABC.txt,Ain,non,Ain,non,Din,Din,Din,Din,Dout,Dout,non,non\r\n";
    const QByteArray good = param + "26/12/08,10:20:30,11,22,33,44,25,1,0,0,0,0,0,0,0\r\n";
    down.st.writeBytes("ABC.txt", good);
    down.start();
    ASSERT_EQ(down.status(), QStringLiteral("接続中"));
    down.cycle();
    EXPECT_EQ(down.status(), QStringLiteral("接続中"));
    EXPECT_EQ(down.screen().values[0], QStringLiteral("11"));
    EXPECT_EQ(down.screen().values[1], QString()); // RA1 "non" is skipped, not shifted
    EXPECT_EQ(down.screen().values[2], QStringLiteral("33"));

    const QList<QByteArray> bad = {
        param,                                                             // no data line
        param + "26/12/08,10:20:30,11,22,33,44,25,1,0,0,0,0,0,0,0,9\r\n",  // an extra field
        param + "26/12/08,10:20:30,11,22,33,44,25,1,0,0,0,0,0,0\r\n",      // a field short
        param + "26/12/08,10:20:30,11,22,99999,44,25,1,0,0,0,0,0,0,0\r\n", // out of range
        param + "26/12/08,10:20:30,11,2x,33,44,25,1,0,0,0,0,0,0,0\r\n",    // not a number
        param + "26/12/08,10:20:30,11,22,33,44,25,1,0,0,",                 // torn
        param + QByteArray(300000, 'A'),                                   // oversized
        param + QByteArray("\x00\x01\xff\xfe,\x80", 6),                    // binary
        QByteArray(),                                                      // empty
    };
    for (const QByteArray& b : bad) {
        down.st.writeBytes("ABC.txt", b);
        down.cycle();
        EXPECT_EQ(down.status(), QStringLiteral("通信ｴﾗｰ")) << b.left(80).toStdString();
        EXPECT_TRUE(down.mon.slotActive(0));
        EXPECT_EQ(down.screen().values[0], QStringLiteral("11"));
    }
    // A parameter line of other pin types is reported by name.
    down.st.writeBytes(
        "ABC.txt",
        "ABC.txt,Ain,Ain,Ain,non,Din,Din,Din,Din,Dout,Dout,non,non\r\n26/12/08,10:20:30,1,2,3,4,5,0,0,0,0,0,0,0,0\r\n");
    down.cycle();
    down.mon.StatBarTick();
    EXPECT_EQ(down.mon.panel2(), QStringLiteral("  入出力タイプ設定エラー ： u0"));
    down.st.writeBytes("ABC.txt", good);
    down.cycle();
    EXPECT_EQ(down.status(), QStringLiteral("接続中"));
}

TEST(UploadStart, AUnitWithoutRelayFileNameOrUnreachableIsNotStarted)
{
    RelayStation up;
    QList<UnitRow> rows = numberedRows(2);
    rows[1].ip = QStringLiteral("127.0.0.1");
    rows[1].port = 1; // nothing listens there
    up.files(rows, 3, [](InternetSettings& s) { s.FileName[0].clear(); });
    up.start(0);
    EXPECT_EQ(up.st.messageTexts().last(), QStringLiteral("ﾊﾟﾗﾒｰﾀﾌｧｲﾙを設定して下さい"));
    EXPECT_FALSE(up.mon.slotActive(0));
    up.click(1);
    EXPECT_EQ(up.status(1), QStringLiteral("接続ｴﾗｰ"));
    EXPECT_FALSE(up.mon.slotActive(1));
    EXPECT_EQ(up.screen(2).index, -1); // two units: slot 2 stays empty
    up.click(2);
    EXPECT_EQ(up.status(2), QStringLiteral("切断"));
}

TEST(UploadServe, RequestsAreCarriedOutOnceAndOnlyWithTheToken)
{
    PlainLan lan;
    UnitSimProcess& sim = lan.sim;
    RelayStation& up = lan.up;
    ASSERT_EQ(up.status(), QStringLiteral("接続中"));
    // PortA pin 2 switches pin 2 of port 5; the request file is reset first.
    up.st.writeBytes("ABC1.txt", (token() + QStringLiteral(",ABC1.txt,PortA,2,High\r\n")).toLatin1());
    up.cycle();
    EXPECT_EQ(up.st.readBytes("ABC1.txt"), QByteArray("\r\n"));
    EXPECT_EQ(up.status(), QStringLiteral("接続中"));
    // A request for another file is consumed and not carried out; a bad pin is an error.
    up.st.writeBytes("ABC1.txt", (token() + QStringLiteral(",XYZ1.txt,PortB,4,High\r\n")).toLatin1());
    up.cycle();
    EXPECT_EQ(up.st.readBytes("ABC1.txt"), QByteArray("\r\n"));
    EXPECT_EQ(outputLevel(sim, 4), 0);
    up.st.writeBytes("ABC1.txt", (token() + QStringLiteral(",ABC1.txt,PortB,x,High\r\n")).toLatin1());
    up.cycle();
    EXPECT_EQ(up.status(), QStringLiteral("通信ｴﾗｰ"));
    EXPECT_EQ(up.st.readBytes("ABC1.txt"), QByteArray("\r\n"));
    // A consumed request is not carried out again when the unit fails while switching.
    up.st.writeBytes("ABC1.txt", (token() + QStringLiteral(",ABC1.txt,PortB,4,High\r\n")).toLatin1());
    ASSERT_TRUE(sim.ok("fault 0 down"));
    up.cycle();
    EXPECT_EQ(up.status(), QStringLiteral("通信ｴﾗｰ"));
    EXPECT_EQ(up.st.readBytes("ABC1.txt"), QByteArray("\r\n"));
    ASSERT_TRUE(sim.ok("fault 0 up"));
    up.cycle();
    EXPECT_EQ(up.status(), QStringLiteral("接続中"));
    EXPECT_EQ(outputLevel(sim, 4), 0);
}

TEST(UploadServe, OnlyWhatTheTableAllowsIsCarriedOutAndAnUnreadableRequestIsConsumed)
{
    PlainLan lan;
    UnitSimProcess& sim = lan.sim;
    RelayStation& up = lan.up;
    ASSERT_EQ(up.status(), QStringLiteral("接続中"));
    {
        // The unit would drive pin 0, but the table here says "Din": no request may switch it.
        VARNIX v;
        v.setIP(QString::fromStdString(sim.ip(0)));
        v.setParallelPort(sim.port());
        v.setTimeOut(2);
        v.SetDirp(6, 0, 0);
    }
    const QByteArray refused[] = {
        (token() + QStringLiteral(",ABC1.txt,PortB,0,High\r\n")).toLatin1(),                  // a "Din" pin
        (token() + QStringLiteral(",ABC1.txt,Port,2,Highest-garbage\r\n")).toLatin1(),        // no such port
        token().toLatin1() + ",ABC1.txt,PortB,4,High\xff\xfe\r\n",                            // not CP932
        token().toLatin1() + ",ABC1.txt,PortB,4,High," + QByteArray(70 * 1024, 'x') + "\r\n", // over 64 KiB
        // another password's token: left in place it would hold off every later request
        InetInf::ScramblePass(QStringLiteral("SET"), QStringLiteral("other")).toLatin1() + ",ABC1.txt,PortB,4,High\r\n",
        QByteArray(), // a FIFO in the file's place
    };
    for (const QByteArray& request : refused) {
        if (request.isEmpty()) {
            const QByteArray path = QFile::encodeName(up.st.dir.filePath("ABC1.txt"));
            ASSERT_TRUE(::unlink(path.constData()) == 0 && ::mkfifo(path.constData(), 0600) == 0);
        } else {
            up.st.writeBytes("ABC1.txt", request);
        }
        up.cycle();
        EXPECT_EQ(up.status(), QStringLiteral("通信ｴﾗｰ")) << request.left(40).toStdString();
        EXPECT_EQ(up.st.readBytes("ABC1.txt"), QByteArray("\r\n")) << request.left(40).toStdString();
    }
    EXPECT_EQ(outputLevel(sim, 0), 0);
    EXPECT_EQ(outputLevel(sim, 4), 0);
    // The file is free again: the next request is carried out.
    up.st.writeBytes("ABC1.txt", (token() + QStringLiteral(",ABC1.txt,PortB,4,High\r\n")).toLatin1());
    up.cycle();
    EXPECT_EQ(up.status(), QStringLiteral("接続中"));
    EXPECT_EQ(outputLevel(sim, 4), 1);
}

TEST(InternetRelay, ARequestFileThatIsNotTextIsResetOnTheServer)
{
    InternetPair p;
    p.up.start();
    ASSERT_EQ(p.up.status(), QStringLiteral("接続中")) << p.up.st.messageTexts().join(u'|').toStdString();
    QFile garbage(p.ftp.root("ABC1.txt"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
    garbage.write(token().toLatin1() + ",ABC1.txt,PortB,4,High\xff\xfe\r\n");
    garbage.close();
    p.up.cycle();
    EXPECT_EQ(p.up.status(), QStringLiteral("通信ｴﾗｰ"));
    EXPECT_EQ(p.ftp.file("ABC1.txt"), QByteArray("\r\n"));
    EXPECT_EQ(outputLevel(p.sim, 4), 0);
}

TEST(SlotWork, SlotsWorkSideBySideAndASlotsOwnTickWhileItWorksIsSkippedAndCaughtUp)
{
    UnitSimProcess sim(3);
    ASSERT_TRUE(sim.ok("fault 0 slow 50") && sim.ok("fault 1 slow 50") && sim.ok("fault 2 slow 50"));
    RelayStation up;
    up.files(simulatedRows(sim, 3), 3);
    up.mon.Activate();
    for (int i = 0; i < 3; ++i) {
        up.click(i);
        ASSERT_EQ(up.status(i), QStringLiteral("接続中")) << i;
    }
    int most = 0;
    std::array<int, 3> cycles{};
    std::array<bool, 3> wasBusy{};
    QObject::connect(&up.mon, &DetailMonitor::changed, [&] {
        int busy = 0;
        for (int i = 0; i < 3; ++i) {
            const bool b = up.mon.screen(i).busy;
            busy += b;
            cycles[i] += b && !wasBusy[i];
            wasBusy[i] = b;
        }
        most = std::max(most, busy);
    });
    up.st.clock.advance(1);
    for (int i = 0; i < 3; ++i)
        up.mon.Timer1Tick(i);
    EXPECT_TRUE(up.mon.slotWorking(0) && up.mon.slotWorking(1) && up.mon.slotWorking(2));
    up.mon.Timer1Tick(0); // its own cycle is under way: skipped
    up.settle();
    EXPECT_EQ(most, 3); // a slow unit holds only its own slot
    EXPECT_EQ(cycles, (std::array<int, 3>{1, 1, 1}));
    const QString due1 = up.st.comm.units().CycleDue(1);
    up.st.clock.advance(2); // their due time went by: the next tick catches up
    up.mon.Timer1Tick(1);
    up.mon.Timer1Tick(2);
    up.settle();
    EXPECT_EQ(cycles, (std::array<int, 3>{1, 2, 2}));
    EXPECT_NE(up.st.comm.units().CycleDue(1), due1);
    EXPECT_GT(up.st.comm.units().CycleDue(1), DateText::general(up.st.clock.now()));
    EXPECT_TRUE(up.st.readBytes("ABD.txt").startsWith("ABD.txt,"));
    EXPECT_TRUE(up.st.readBytes("ABE.txt").startsWith("ABE.txt,"));
}

TEST(SlotWork, ALateCycleKeepsTheGridFromTheStartAndALongOneSkipsToTheNextDueTime)
{
    UnitSimProcess sim(1);
    for (const int runSeconds : {3, 12}) {
        RelayStation up;
        up.files(simulatedRows(sim, 1), 3, {}, 10);
        up.st.clock.set(QDateTime(QDate(2026, 12, 8), QTime(12, 0, 5)));
        up.start();
        ASSERT_EQ(up.status(), QStringLiteral("接続中"));
        QStringList starts;
        bool inCycle = false;
        QObject::connect(&up.mon, &DetailMonitor::changed, [&] {
            const bool busy = up.mon.screen(0).busy;
            if (busy && !inCycle) {
                starts << up.st.clock.now().toString(QStringLiteral("mm:ss"));
                up.st.clock.advance(runSeconds); // the cycle's work takes this long
            }
            inCycle = busy;
        });
        while (up.st.clock.now().time() < QTime(12, 1, 0))
            up.cycle();
        const QStringList expected = runSeconds == 3 ? QStringList{"00:15", "00:25", "00:35", "00:45", "00:55"}
                                                     : QStringList{"00:15", "00:35", "00:55"};
        EXPECT_EQ(starts, expected) << runSeconds;
        EXPECT_EQ(up.status(), QStringLiteral("接続中"));
    }
}

namespace {

// Lets events run until the station's dial-up line is down and settled (at most 10 s).
void waitLineDown(RelayStation& station)
{
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(10000);
    EventPump::waitUntil(
        [&] { return station.st.comm.dialUpLine().state() == DialUpLine::State::Down || !limit.isActive(); });
}

} // namespace

namespace {

// The station dials "isp" through the fake, whose pause after a hang-up is short.
void dialVia(FakeDialUp& dialUp, RelayStation& station)
{
    station.st.comm.setDialUpBackend(&dialUp);
    station.st.comm.dialUpLine().PauseMs = 10;
    station.st.comm.inet().LoadInetInf();
    EditInet(station.st.comm, [&](InternetSettings& s) { s.DialUpName = QStringLiteral("isp"); });
    station.st.comm.inet().SaveInetInf();
}

} // namespace

TEST(InternetRelay, TheUploadStartDialsOnceAndHangsUpWhenTheSlotStops)
{
    FakeDialUp dialUp; // outlives the station's line
    InternetPair p;
    dialVia(dialUp, p.up);
    dialUp.dialResult = 651;
    p.up.start();
    EXPECT_EQ(p.up.st.messages.shown.back().text, QStringLiteral("ダイアルアップ接続に失敗しました"));
    EXPECT_EQ(p.up.st.messages.shown.back().title, QStringLiteral("ダウンロード"));
    EXPECT_FALSE(p.up.mon.slotActive(0));
    EXPECT_EQ(p.up.st.comm.dialUpLine().leases(), 0); // a failed start gives its lease back
    waitLineDown(p.up);
    dialUp.dialResult = 0;
    p.up.click(0);
    ASSERT_EQ(p.up.status(), QStringLiteral("接続中"));
    EXPECT_TRUE(p.up.mon.holdsLine(0));
    EXPECT_EQ(dialUp.up.size(), 1u);
    p.up.cycle();
    ASSERT_TRUE(p.up.st.comm.files().FileExists(QStringLiteral("ABC.txt")));
    p.up.click(0); // stop
    EXPECT_FALSE(p.up.mon.holdsLine(0));
    waitLineDown(p.up);
    EXPECT_TRUE(dialUp.up.empty());
    EXPECT_FALSE(p.up.st.comm.files().FileExists(QStringLiteral("ABC.txt"))); // mode 0 removes its local data file
}

TEST(InternetRelay, TheLineStaysUpWhileAnotherSlotUsesItAndRepeatedStopsDuringTheHangUpAreHarmless)
{
    FakeDialUp dialUp; // outlives the station's line
    InternetPair p;
    dialUp.hangUpMs = 100; // long enough for the stops below to come during it
    RelayStation& up = p.up;
    QList<UnitRow> two = p.rows;
    two << p.rows[0];
    two[1].name = QStringLiteral("機械B");
    up.files(two, 0, [&](InternetSettings& s) {
        s.FTP = QStringLiteral("127.0.0.1");
        s.ProxyPortNo = QString::number(p.ftp.port());
        s.ID = QStringLiteral("ftpuser");
        s.URL = p.http.url();
    });
    dialVia(dialUp, up);
    up.mon.Activate();
    up.mon.NameComboClick(1, 0);
    up.click(0);
    up.click(1); // one unit in two slots would log twice a second and send one file twice
    EXPECT_EQ(up.status(1), QStringLiteral("切断"));
    EXPECT_EQ(up.st.messageTexts().value(0), QStringLiteral("機械0はスロット1でモニタ中です"));
    up.mon.NameComboClick(1, 1);
    up.click(1);
    ASSERT_EQ(up.status(0), QStringLiteral("接続中"));
    ASSERT_EQ(up.status(1), QStringLiteral("接続中"));
    EXPECT_EQ(dialUp.calls, QStringList{QStringLiteral("dial isp ")});
    EXPECT_EQ(up.st.comm.dialUpLine().leases(), 2);

    up.click(0);
    EXPECT_EQ(dialUp.up.size(), 1u); // slot 1 still uses the line
    up.cycle(1);
    EXPECT_EQ(up.status(1), QStringLiteral("接続中"));

    up.click(1); // the last lease: the hang-up starts on the line's worker
    EXPECT_EQ(up.st.comm.dialUpLine().state(), DialUpLine::State::HangingUp);
    up.mon.StopSlot(1);
    up.mon.StopSlot(0);
    up.mon.StopAll();
    up.mon.OpencmdClick(0); // a start that waits for the line, stopped before it is up
    up.mon.StopSlot(0);
    up.mon.Activate();
    EXPECT_EQ(up.st.comm.dialUpLine().leases(), 0);
    waitLineDown(up);
    EXPECT_TRUE(dialUp.up.empty());
    EXPECT_FALSE(up.mon.holdsLine(0) || up.mon.holdsLine(1));
    EXPECT_EQ(up.status(0), QStringLiteral("切断"));
}

// The mode changed in the settings while a slot relays: the slots take the other side's type,
// the old one's work and lease end with it, and the new side starts from its own state.
TEST(InternetRelay, ChangingSidesWhileASlotRelaysEndsItsWorkAndGivesTheLineBack)
{
    FakeDialUp dialUp; // outlives the station's line
    InternetPair p;
    RelayStation& up = p.up;
    dialVia(dialUp, up);
    up.start();
    ASSERT_EQ(up.status(), QStringLiteral("接続中"));
    ASSERT_NE(up.mon.uploadSlot(0), nullptr);
    up.st.clock.advance(1);
    up.mon.Timer1Tick(0); // a cycle under way when the side changes
    ASSERT_TRUE(up.mon.slotWorking(0));

    EditInet(up.st.comm, [&](InternetSettings& s) { s.Mode = 1; });
    up.st.comm.inet().SaveInetInf();
    up.mon.Activate();
    EXPECT_EQ(up.mon.uploadSlot(0), nullptr);
    ASSERT_NE(up.mon.downloadSlot(0), nullptr);
    EXPECT_FALSE(up.mon.working());
    EXPECT_FALSE(up.mon.slotActive(0));
    EXPECT_EQ(up.st.comm.dialUpLine().leases(), 0);
    EXPECT_EQ(up.mon.modeText(), QStringLiteral("  通信モード ： ダウンロード"));
    up.settle(); // the dropped cycle's answers change nothing
    EXPECT_EQ(up.status(), QStringLiteral("切断"));
    waitLineDown(up);
    EXPECT_TRUE(dialUp.up.empty());
}

// --- the station never waits on a person ---

namespace {

bool anyWaitingBox(const ScriptedMessageBox& boxes)
{
    return std::any_of(boxes.shown.begin(), boxes.shown.end(), [](const auto& b) { return !b.notice; });
}

QByteArray dataLineOf(const QByteArray& file)
{
    return file.split('\n').value(1);
}

} // namespace

TEST(NoWaiting, WithABoxLeftOpenTheOtherSlotsGoOnUploadingAndServingRequests)
{
    UnitSimProcess sim(3);
    FtpServer ftp;
    HttpServer http{ftp.root()};
    ASSERT_TRUE(sim.running() && ftp.ready() && http.ready());
    makeOutputs(sim, 1);
    RelayStation up;
    up.files(simulatedRows(sim, 3), 0, [&](InternetSettings& s) {
        s.FTP = QStringLiteral("127.0.0.1");
        s.ProxyPortNo = QString::number(ftp.port());
        s.ID = QStringLiteral("ftpuser");
        s.URL = http.url();
        s.FileName[2].clear(); // slot 2 cannot start: its box stays open
    });
    up.st.messages.keepNoticesOpen = true;
    up.mon.Activate();
    up.click(0);
    up.click(1);
    ASSERT_EQ(up.status(0), QStringLiteral("接続中")) << up.st.messageTexts().join(u'|').toStdString();
    ASSERT_EQ(up.status(1), QStringLiteral("接続中"));

    // Both cycles are under way when slot 2's start fails.
    up.st.clock.advance(1);
    up.mon.Timer1Tick(0);
    up.mon.Timer1Tick(1);
    up.mon.OpencmdClick(2);
    up.settle();
    ASSERT_EQ(up.st.messages.open, std::vector<QString>{QStringLiteral("ﾊﾟﾗﾒｰﾀﾌｧｲﾙを設定して下さい")});
    const QByteArray first0 = dataLineOf(ftp.file("ABC.txt"));
    const QByteArray first1 = dataLineOf(ftp.file("ABD.txt"));
    EXPECT_TRUE(first0.startsWith("26/12/08,10:20:31,")) << first0.toStdString();
    EXPECT_TRUE(first1.startsWith("26/12/08,10:20:31,")) << first1.toStdString();

    // With the box still open, the next cycles send again and slot 1 serves a request.
    QFile request(ftp.root("ABD1.txt"));
    ASSERT_TRUE(request.open(QIODevice::WriteOnly | QIODevice::Truncate));
    request.write((token() + QStringLiteral(",ABD1.txt,PortB,4,High\r\n")).toLatin1());
    request.close();
    up.st.clock.advance(1);
    up.mon.Timer1Tick(0);
    up.mon.Timer1Tick(1);
    up.settle();
    EXPECT_TRUE(dataLineOf(ftp.file("ABC.txt")).startsWith("26/12/08,10:20:32,"));
    EXPECT_TRUE(dataLineOf(ftp.file("ABD.txt")).startsWith("26/12/08,10:20:32,"));
    VARNIX v;
    v.setIP(QString::fromStdString(sim.ip(1)));
    v.setParallelPort(sim.port());
    v.setTimeOut(2);
    EXPECT_EQ(v.GetPin(6, 4), 1);
    EXPECT_EQ(ftp.file("ABD1.txt"), QByteArray("\r\n"));
    EXPECT_EQ(up.status(0), QStringLiteral("接続中"));
    EXPECT_EQ(up.status(1), QStringLiteral("接続中"));
    // Work raised its box as a notice: nothing of it waited for the operator.
    EXPECT_FALSE(anyWaitingBox(up.st.messages));
}

TEST(NoWaiting, AFlipDuringASlowPollSetsTheLevelTheOperatorChose)
{
    PlainLan lan;
    RelayStation& up = lan.up;
    ASSERT_EQ(up.status(), QStringLiteral("接続中"));
    ASSERT_EQ(outputLevel(lan.sim, 4), 0);
    ASSERT_TRUE(lan.sim.ok("fault 0 slow 60"));
    up.st.clock.advance(1);
    up.mon.Timer1Tick(0);
    ASSERT_TRUE(up.mon.slotWorking(0));
    up.mon.SwitchFlipped(4, true); // the poll under way reads RB4 low
    EXPECT_TRUE(up.mon.switchOperating());
    up.settle();
    EXPECT_EQ(outputLevel(lan.sim, 4), 1);
    EXPECT_TRUE(up.screen().switchOn[4]);
    EXPECT_EQ(up.screen().outputLed[4], Led::On);
    EXPECT_EQ(up.status(), QStringLiteral("接続中"));
    EXPECT_FALSE(up.mon.switchOperating());
    // The next cycle reads what was set.
    up.cycle();
    EXPECT_TRUE(up.screen().switchOn[4]);
}

TEST(NoWaiting, AFlipDuringASlowFetchPostsTheLevelTheOperatorChose)
{
    FtpServer ftp;
    ASSERT_TRUE(ftp.ready());
    // Serves the FTP root over HTTP, each answer held back while slow is set.
    QTcpServer http;
    ASSERT_TRUE(http.listen(QHostAddress::LocalHost, 0));
    int slowMs = 0;
    QObject::connect(&http, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = http.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [&, s] {
                if (s->property("answered").toBool())
                    return; // the rest of a request already answered
                s->setProperty("answered", true);
                const QByteArray head = s->readAll();
                const QByteArray path = head.split(' ').value(1).mid(1);
                const QByteArray body = ftp.file(QString::fromLatin1(path));
                const QByteArray reply = "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                                         "\r\nConnection: close\r\n\r\n" + body;
                QTimer::singleShot(slowMs, s, [s, reply] {
                    s->write(reply);
                    s->disconnectFromHost();
                });
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    QFile data(ftp.root("ABC.txt"));
    ASSERT_TRUE(data.open(QIODevice::WriteOnly));
    data.write("ABC.txt,Ain,Ain,non,non,Din,Din,Din,Din,Dout,Dout,non,non\r\n"
               "26/12/08,10:20:30,1,2,0,0,25,0,0,0,0,0,0,0,0\r\n");
    data.close();
    QFile idle(ftp.root("ABC1.txt"));
    ASSERT_TRUE(idle.open(QIODevice::WriteOnly));
    idle.write("\r\n");
    idle.close();
    RelayStation down;
    down.files(numberedRows(1), 1, [&](InternetSettings& s) {
        s.FTP = QStringLiteral("127.0.0.1");
        s.ProxyPortNo = QString::number(ftp.port());
        s.ID = QStringLiteral("ftpuser");
        s.URL = QStringLiteral("http://127.0.0.1:%1").arg(http.serverPort());
    });
    down.start();
    ASSERT_EQ(down.status(), QStringLiteral("接続中")) << down.st.messageTexts().join(u'|').toStdString();
    slowMs = 80;
    down.st.clock.advance(1);
    down.mon.Timer1Tick(0);
    ASSERT_TRUE(down.mon.slotWorking(0));
    down.mon.SwitchFlipped(4, true); // the fetch under way relays RB4 low
    down.settle();
    EXPECT_EQ(QString::fromLatin1(ftp.file("ABC1.txt")), token() + QStringLiteral(",ABC1.txt,PortB,4,High\r\n"));
    EXPECT_TRUE(down.screen().switchOn[4]);
    EXPECT_EQ(down.screen().outputLed[4], Led::Wait);
    EXPECT_EQ(down.mon.downloadSlot(0)->pendingCount(4), 0);
    EXPECT_FALSE(anyWaitingBox(down.st.messages));
}

TEST(NoWaiting, ALanDownloadPostIsNotReportedAsFailed)
{
    LanPair p;
    p.up.start();
    p.up.cycle();
    p.down.start();
    ASSERT_EQ(p.down.status(), QStringLiteral("接続中")) << p.down.st.messageTexts().join(u'|').toStdString();
    const size_t boxes = p.down.st.messages.shown.size();
    p.down.flip(4, true);
    EXPECT_EQ(p.down.st.messages.shown.size(), boxes) << p.down.st.messageTexts().join(u'|').toStdString();
    EXPECT_TRUE(p.down.screen().switchOn[4]);
    EXPECT_EQ(p.down.screen().outputLed[4], Led::Wait);
    EXPECT_EQ(p.down.status(), QStringLiteral("接続中"));
    // A second flip finds the request still waiting: refused, as before.
    p.down.flip(5, true);
    EXPECT_EQ(p.down.st.messageTexts().last(), QStringLiteral("前の出力処理が完了していません"));
    EXPECT_FALSE(p.down.screen().switchOn[5]);
    p.up.cycle();
    EXPECT_EQ(outputLevel(p.sim, 4), 1);
}
