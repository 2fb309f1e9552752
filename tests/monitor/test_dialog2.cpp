// The detail monitor dialog: a scripted link for opening, the unit simulator in LAN mode,
// and http.server with pyftpdlib (one folder, served both ways) in download mode.

#include "monitor/Dialog2.h"
#include "DialogEngine.h"
#include "FtpServer.h"
#include "HttpServer.h"
#include "Station.h"
#include "outside/Switch.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "UnitSimProcess.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QPushButton>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QString Ok = QStringLiteral("正常");
const QString CommError = QStringLiteral("通信ｴﾗｰ");
const QColor Orange(0xFF, 0x80, 0x00);

struct Dialog2Rig {
    Station st;
    std::unique_ptr<PollEngine> real = RealEngine();
    std::unique_ptr<ScriptedEngine> scripted;
    std::unique_ptr<Dialog2> w;
    // The lanes talk to the test's scripted link and transfer from now on.
    void script(DeviceLink& link, InternetTransfer& transfer)
    {
        w.reset();
        scripted = std::make_unique<ScriptedEngine>(link, transfer);
    }
    PollEngine& lanes() { return scripted ? scripted->engine : *real; }
    void files(const QList<UnitRow>& rows, int mode2)
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows));
        EXPECT_TRUE(st.comm.sys().LoadSysInf());
        EditInet(st.comm, [&](InternetSettings& s) { s.Mode2 = int16_t(mode2); });
        unit = 0;
    }
    int unit = 0;
    Dialog2& open(bool readOnShow = true)
    {
        w = std::make_unique<Dialog2>(st.comm, lanes(), unit, readOnShow);
        w->show();
        idle();
        return *w;
    }
    // Lets a queued start run, then waits for the answers of every exchange begun.
    void idle()
    {
        QCoreApplication::processEvents();
        EXPECT_TRUE(Settle([&] { return !w->busy(); }));
    }
    void tap(const char* name)
    {
        click(*w, QString::fromLatin1(name));
        idle();
    }
    bool allWhite() const
    {
        for (int p = 0; p < 8; ++p)
            if (control<Switch>(*w, QStringLiteral("Sw1_%1").arg(p))->ForeColor() != QColor(Qt::white))
                return false;
        return true;
    }
    int logLines() const { return QString::fromLatin1(st.readBytes(DataFiles::DataLogName(0))).count(u'\n'); }
};

} // namespace

TEST(Dialog2, OpensDisconnectedAndReadsNothingForAFailedUnitOrStoppedMonitoring)
{
    Dialog2Rig rig;
    rig.files({UnitRow{QStringLiteral("機械0")}}, 1);
    FakeLink link;
    FakeTransfer transfer;
    rig.script(link, transfer);
    Dialog2& w = rig.open(false);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("詳細モニタ"));
    EXPECT_EQ(text(w, "Nametext"), QStringLiteral("機械0"));
    EXPECT_EQ(text(w, "IPtext_0"), QStringLiteral("127.0.0.11"));
    EXPECT_EQ(text(w, "Stattext_0"), QStringLiteral("切断"));
    EXPECT_EQ(w.statusTone(), Dialog2::Tone::Window);
    EXPECT_TRUE(link.log.isEmpty());
    EXPECT_TRUE(rig.allWhite());
    EXPECT_FALSE(QFile::exists(rig.st.path(DataFiles::DataLogName(0))));
    EXPECT_EQ(control<QWidget>(w, "Sw1_7")->accessibleName(), QStringLiteral("RB7 出力ｽｲｯﾁ"));
    EXPECT_EQ(control<QWidget>(w, "Picture1_0")->accessibleName(), QStringLiteral("RB0 入力"));
    snap(w, QStringLiteral("Dialog2"));

    // a unit beyond the table: nothing to show, and "接続" does nothing
    rig.unit = 1;
    Dialog2& none = rig.open(true);
    rig.tap("Opencmd_0");
    EXPECT_EQ(text(none, "Nametext"), QString());
    EXPECT_EQ(text(none, "Stattext_0"), QStringLiteral("切断"));
    EXPECT_TRUE(link.log.isEmpty());
}

TEST(Dialog2, LanModeReadsTheUnitSetsItsOutputsAndReportsAUnitThatIsGone)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    Dialog2Rig rig;
    rig.files(simulatedRows(sim, 1, QStringLiteral("機械")), 1); // RA0, RA1 Ain; RB0..3 Din; RB4, RB5 Dout
    VARNIX link;
    ASSERT_TRUE(rig.st.comm.sys().OpenUnitLink(link, 0)); // the pin directions, as the main window's start sets them
    ASSERT_TRUE(sim.ok("ain 0 0 321"));
    ASSERT_TRUE(sim.ok("ain 0 5 51"));       // 25.2 degrees
    rig.st.comm.units().unitItem(2, 0) = 77; // RA2 is not "Ain": its item is left alone
    Dialog2& w = rig.open();
    EXPECT_EQ(text(w, "Stattext_0"), Ok);
    EXPECT_EQ(w.statusTone(), Dialog2::Tone::Good);
    EXPECT_EQ(text(w, "Aintext0_0"), QStringLiteral("321"));
    EXPECT_EQ(text(w, "Aintext2_0"), QString());
    EXPECT_EQ(text(w, "temptext_0"), QStringLiteral(" 25 ℃"));
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 321);
    EXPECT_EQ(rig.st.comm.units().unitItem(2, 0), 77);
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemTemperature, 0), 51);
    // the simulator starts inputs 0 and 3 of its first unit high
    EXPECT_EQ(w.inputLamp(0), QStringLiteral("ledON.ico"));
    EXPECT_EQ(w.inputLamp(1), QStringLiteral("ledOFF.ico"));
    EXPECT_EQ(w.inputLamp(4), QString());
    EXPECT_EQ(w.outputLamp(4), QStringLiteral("ledOFF.ico"));
    EXPECT_EQ(control<Switch>(w, "Sw1_4")->ForeColor(), Orange);
    EXPECT_EQ(control<Switch>(w, "Sw1_0")->ForeColor(), QColor(Qt::white));
    snap(w, QStringLiteral("Dialog2_read"));
    ASSERT_EQ(rig.logLines(), 1);
    EXPECT_TRUE(QString::fromLatin1(rig.st.readBytes(DataFiles::DataLogName(0))).contains(QStringLiteral(", 77, 0,")));

    rig.tap("Sw1_4");
    EXPECT_TRUE(control<Switch>(w, "Sw1_4")->Value());
    EXPECT_EQ(w.outputLamp(4), QStringLiteral("ledON.ico"));
    EXPECT_EQ(text(w, "Stattext_0"), Ok);
    VARNIX check;
    ASSERT_TRUE(rig.st.comm.sys().AimUnitLink(check, 0, 1));
    EXPECT_EQ(check.GetPin(6, 4), 1);

    click(w, "Sw1_0"); // white: flips back at once, and the unit is not touched
    EXPECT_FALSE(w.busy());
    EXPECT_FALSE(control<Switch>(w, "Sw1_0")->Value());
    EXPECT_TRUE(w.isEnabled());

    ASSERT_TRUE(sim.ok("fault 0 down"));
    rig.st.clock.advance(1); // a read in a second already logged adds no line
    rig.tap("Sw1_5");        // a link error: reported, and the switch keeps its new position
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
    EXPECT_TRUE(control<Switch>(w, "Sw1_5")->Value());
    EXPECT_EQ(w.outputLamp(5), QStringLiteral("ledOFF.ico"));
    rig.tap("Opencmd_0");
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
    EXPECT_EQ(w.statusTone(), Dialog2::Tone::Error);
    EXPECT_TRUE(rig.allWhite());
    EXPECT_FALSE(control<Switch>(w, "Sw1_4")->Value());
    EXPECT_EQ(rig.logLines(), 2);
    EXPECT_TRUE(rig.st.messages.shown.empty());
}

TEST(Dialog2, DownloadModeShowsTheRelayedValuesAndPostsOutputRequests)
{
    FtpServer ftp;
    ASSERT_TRUE(ftp.ready());
    HttpServer http(ftp.root());
    ASSERT_TRUE(http.ready());
    Dialog2Rig rig;
    rig.files({UnitRow{QStringLiteral("機械0")}}, 0);
    auto s = rig.st.comm.inet().InternetSettings();
    s.URL = http.url();
    s.FTP = QStringLiteral("127.0.0.1");
    s.ProxyPortNo = QString::number(ftp.port());
    s.ID = QStringLiteral("ftpuser");
    s.PassWord = QStringLiteral("secret");
    s.FileName[0] = QStringLiteral("f0");
    s.TimeOut = 3;
    rig.st.comm.inet().Commit(s);
    const QString param = Relay::ParamLine(rig.st.comm, 0);
    ASSERT_FALSE(param.isEmpty());
    const Relay::UploadValues values{321, 7, 0, 0, 26, 1, 0, 0, 1, 1, 0, 0, 0};
    auto relay = [&](const QString& first, const QDateTime& stamp) {
        TextFile::writeWhole(ftp.root("f0.txt"), Relay::DataFileText(first, Relay::DataLine(stamp, values)));
    };
    const QDateTime now = rig.st.clock.now();
    relay(param, now);
    TextFile::writeWhole(ftp.root("f01.txt"), QStringLiteral("\r\n"));

    Dialog2& w = rig.open();
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_EQ(text(w, "Stattext_0"), Ok);
    EXPECT_EQ(text(w, "Aintext0_0"), QStringLiteral("321"));
    EXPECT_EQ(text(w, "Aintext1_0"), QStringLiteral("7"));
    EXPECT_EQ(text(w, "temptext_0"), QStringLiteral("26 ℃"));
    EXPECT_EQ(w.inputLamp(0), QStringLiteral("ledON.ico"));
    EXPECT_EQ(w.inputLamp(3), QStringLiteral("ledON.ico"));
    EXPECT_TRUE(control<Switch>(w, "Sw1_4")->Value());
    EXPECT_EQ(control<Switch>(w, "Sw1_5")->ForeColor(), Orange);
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 0); // relayed values are only shown
    EXPECT_FALSE(QFile::exists(rig.st.path(DataFiles::DataLogName(0))));

    // a flip lands on the server as the exact request line, and the local copy goes
    rig.tap("Sw1_5");
    const QString token = InetInf::ScramblePass(QStringLiteral("SET"), QStringLiteral("secret"));
    EXPECT_EQ(QString::fromLatin1(ftp.file("f01.txt")), token + QStringLiteral(",f01.txt,PortB,5,High\r\n"));
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_EQ(w.outputLamp(5), QStringLiteral("ledON.ico"));
    EXPECT_TRUE(control<Switch>(w, "Sw1_5")->Value());
    EXPECT_FALSE(QFile::exists(rig.st.path("f01.txt")));
    EXPECT_TRUE(w.isEnabled());

    // the upload side has not served it yet: the next flip is refused and the switch returns
    rig.tap("Sw1_5");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"前の出力処理が完了していません"});
    EXPECT_TRUE(rig.st.messages.shown[0].notice);
    EXPECT_TRUE(control<Switch>(w, "Sw1_5")->Value());

    // a send that fails leaves the switch where it was, with the send's error as title
    TextFile::writeWhole(ftp.root("f01.txt"), QStringLiteral("\r\n"));
    rig.st.messages.shown.clear();
    s.ProxyPortNo = QStringLiteral("1");
    rig.st.comm.inet().Commit(s);
    rig.st.comm.setFtpStepTimeOutMs(2000);
    rig.tap("Sw1_4");
    ASSERT_EQ(rig.st.messageTexts(), QStringList{" アップロード出来ません！ "});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("FTPサーバーコネクトタイムアウト"));
    EXPECT_TRUE(control<Switch>(w, "Sw1_4")->Value());
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
    EXPECT_EQ(QString::fromLatin1(ftp.file("f01.txt")), QStringLiteral("\r\n"));

    // stale data: shown, but reported
    rig.st.messages.shown.clear();
    relay(param, now.addSecs(-600));
    rig.tap("Opencmd_0");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"タイムアウトエラー"});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("Talveron"));
    EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
    EXPECT_EQ(text(w, "Aintext0_0"), QStringLiteral("321"));
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
    EXPECT_EQ(control<Switch>(w, "Sw1_4")->ForeColor(), Orange);

    // the upload side has other pin types
    rig.st.messages.shown.clear();
    relay(QString(param).replace(QStringLiteral("Dout"), QStringLiteral("Din")), now);
    rig.tap("Opencmd_0");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"入出力タイプ設定がアップロード側と\r\n異なっています"});
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
    EXPECT_EQ(text(w, "Aintext0_0"), QString());
    EXPECT_TRUE(rig.allWhite());

    // a data line that is not one: a failed read, no message
    rig.st.messages.shown.clear();
    TextFile::writeWhole(ftp.root("f0.txt"), param + QStringLiteral("\r\n2026/12/08,10:20:30,x,y\r\n"));
    rig.tap("Opencmd_0");
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_EQ(text(w, "Stattext_0"), CommError);

    // no relay file at all
    QFile::remove(ftp.root("f0.txt"));
    rig.tap("Opencmd_0");
    EXPECT_EQ(rig.st.messageTexts(),
              QStringList{"パラメータファイルがダウンロードできません\r\nアップロード側が接続しているか、又は\r\n"
                          "通信設定が正しいか確認して下さい"});
    EXPECT_EQ(text(w, "Stattext_0"), CommError);

    // a unit without a relay file name has nothing to fetch: the same failure, not a system file one
    rig.st.messages.shown.clear();
    relay(param, now);
    s.FileName[0].clear();
    rig.st.comm.inet().Commit(s);
    rig.tap("Opencmd_0");
    EXPECT_EQ(rig.st.messageTexts(),
              QStringList{"パラメータファイルがダウンロードできません\r\nアップロード側が接続しているか、又は\r\n"
                          "通信設定が正しいか確認して下さい"});
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
    EXPECT_TRUE(rig.allWhite());
}

TEST(Dialog2, TemperatureTextHasTheNumberFormOfTheOtherWindows)
{
    EXPECT_EQ(Detail::TemperatureText(51), QStringLiteral(" 25 ℃"));
    EXPECT_EQ(Detail::TemperatureText(0), QStringLiteral(" 0 ℃"));
    EXPECT_EQ(Detail::TemperatureText(-51), QStringLiteral("-25 ℃")); // no space before a sign
    EXPECT_EQ(Detail::TemperatureText(5), QStringLiteral(" 2 ℃"));    // 2.47
}

TEST(Dialog2, RelayFetchesUseTheNamedProxyAndTryFourTimes)
{
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({UnitRow{QStringLiteral("機械0")}}));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    auto s = st.comm.inet().InternetSettings();
    s.Mode2 = 0;
    s.URL = QStringLiteral("http://relay.example");
    s.FileName[0] = QStringLiteral("f0");
    s.ProxyServerName = QStringLiteral("proxy.example");
    s.ProxyPortNo = QStringLiteral("8080");
    st.comm.inet().Commit(s);
    FakeLink link;
    FakeTransfer transfer;
    ScriptedEngine lanes(link, transfer);
    auto read = [&](Dialog2& w) {
        w.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(Settle([&] { return !w.busy(); }));
    };
    {
        Dialog2 w(st.comm, lanes.engine, 0, true);
        read(w);
        EXPECT_EQ(text(w, "Stattext_0"), CommError);
    }
    EXPECT_EQ(transfer.fetched, QStringList(4, QStringLiteral("http://relay.example/f0.txt")));
    EXPECT_EQ(transfer.AccessType, InternetTransfer::NamedProxy);
    EXPECT_EQ(transfer.Proxy, QStringLiteral("proxy.example"));
    EXPECT_EQ(transfer.ProxyPort, QStringLiteral("8080"));

    // the first text that is the unit's data file ends the attempts
    s.ProxyServerName.clear();
    st.comm.inet().Commit(s);
    transfer.fetched.clear();
    transfer.documents[QStringLiteral("http://relay.example/f0.txt")] = QStringLiteral("f0.txt,other\r\n");
    Dialog2 w(st.comm, lanes.engine, 0, true);
    read(w);
    EXPECT_EQ(transfer.fetched.size(), 1);
    EXPECT_EQ(transfer.AccessType, InternetTransfer::Default);
    EXPECT_EQ(text(w, "Stattext_0"), CommError);
}

// Opened as the main window opens it: nothing is asked of the unit before the dialog is up;
// the read begins inside the modal loop, with the dialog busy; Escape ends the read on its lane
// and the dialog with it, and nothing of the read follows.
TEST(Dialog2, TheOpeningReadStartsOnceTheDialogIsUpAndModal)
{
    Dialog2Rig rig;
    rig.files({UnitRow{QStringLiteral("機械0")}}, 1);
    GatedLink link;
    FakeTransfer transfer;
    rig.script(link, transfer);
    Dialog2 w(rig.st.comm, rig.lanes(), 0, true);
    EXPECT_EQ(rig.lanes().pending(), 0);
    EXPECT_FALSE(w.busy());

    bool modalWhileReading = false, keptOpen = false, pointerBusy = false;
    int stage = 0;
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (stage == 0 && rig.lanes().pending() > 0) {
            modalWhileReading = QApplication::activeModalWidget() == &w && w.busy() &&
                                !control<QPushButton>(w, "Opencmd_0")->isEnabled();
            pointerBusy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            PressEscape(w);
            keptOpen = w.isVisible();
            link.open();
            stage = 2;
        }
    });
    step.start(5);
    QTimer::singleShot(20000, &w, [&] { w.done(0); }); // a broken dialog must not hang the test
    w.exec();

    EXPECT_EQ(stage, 2);
    EXPECT_TRUE(modalWhileReading);
    EXPECT_TRUE(pointerBusy);
    EXPECT_FALSE(keptOpen);
    ASSERT_TRUE(Settle([&] { return rig.lanes().pending() == 0; }));
    EXPECT_NE(text(w, "Stattext_0"), Ok);
    EXPECT_EQ(rig.logLines(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
