// Download mode: relay data files served over HTTP on loopback.

#include "platform/DateText.h"
#include "FakeLink.h"
#include "HttpServer.h"
#include "outside/InternetTransfer.h"
#include "Rig.h"
#include "TinyProxy.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString Pins = QStringLiteral("non,Ain,non,non,Din,Din,Din,Din,Dout,Dout,non,non");

QString relay(const QString& name, const QDateTime& when, const QString& values, const QString& pins = Pins)
{
    return name + QStringLiteral(".txt,") + pins + QStringLiteral("\r\n") + DateText::date(when) + u',' +
           DateText::time(when) + u',' + values + QStringLiteral("\r\n");
}

struct RelayRig : Rig<FakeLink, CurlTransfer> {
    QTemporaryDir served;
    HttpServer http{served.path()};

    RelayRig(int n = 1)
    {
        QList<UnitRow> rows;
        QStringList names;
        for (int i = 0; i < n; ++i) {
            UnitRow r;
            r.name = QStringLiteral("遠隔%1").arg(i);
            r.pins = Pins;
            rows << r;
            names << QStringLiteral("R%1").arg(i);
        }
        files(rows, 0, names, http.url());
    }
    void serve(const QString& name, const QString& text)
    {
        TextFile::writeWhole(QDir(served.path()).filePath(name + QStringLiteral(".txt")), text);
    }
};

} // namespace

TEST(ReadRelayUnit, StoresTheRelayedValues)
{
    RelayRig rig;
    ASSERT_TRUE(rig.http.ready());
    MontAll& w = rig.open();
    EXPECT_EQ(rig.window->findChild<QLabel*>("Panel2")->text(), QStringLiteral("  通信モード ： ダウンロード"));
    EXPECT_FALSE(rig.button("Command2_1")->isEnabled());
    EXPECT_TRUE(rig.cycle().headerListValid());
    rig.serve("R0", relay("R0", rig.st.clock.now(), "11,22,33,44,25,1,0,1,0,1,0,0,1"));
    ASSERT_TRUE(rig.readRelay(0));
    auto& c = rig.st.comm;
    EXPECT_EQ(c.units().unitItem(0, 0), 0);  // RA0 is not "Ain": its field is passed over
    EXPECT_EQ(c.units().unitItem(1, 0), 22); // RA1 takes field 4
    EXPECT_EQ(c.units().unitItem(ItemRB0, 0), 1);
    EXPECT_EQ(c.units().unitItem(ItemRB0 + 7, 0), 1); // the last field runs to the end of the text
    EXPECT_EQ(c.units().unitItem(ItemFailureCount, 0), -1);
    EXPECT_EQ(w.rowLamp(0), Lamp::On);
    // the relay carries whole degrees: the log shows the same degrees as in LAN mode
    c.files().WriteDataLog(0);
    EXPECT_TRUE(rig.st.readBytes("DataFile000.csv").endsWith(", 25\r\n"));
}

TEST(ReadRelayUnit, BadRelayFilesCountAsFailures)
{
    RelayRig rig;
    ASSERT_TRUE(rig.http.ready());
    rig.open();
    auto& c = rig.st.comm;
    const QDateTime now = rig.st.clock.now();
    const QString good = "11,22,33,44,25,1,0,1,0,1,0,0,1";
    struct Case {
        const char* what;
        QString text;
    };
    const std::vector<Case> cases = {
        {"one pin type differs", relay("R0", now, good, QString(Pins).replace("Dout,Dout", "Dout,Din"))},
        {"another file's header", relay("R9", now, good)},
        {"a field that is not a number", relay("R0", now, "11,22,33,44,25,1,0,x,0,1,0,0,1")},
        {"a short data line", relay("R0", now, "11,22,33")},
        {"no data line", QStringLiteral("R0.txt,") + Pins},
    };
    int expected = -1;
    for (const auto& cs : cases) {
        rig.serve("R0", cs.text);
        EXPECT_FALSE(rig.readRelay(0)) << cs.what;
        EXPECT_EQ(c.units().unitItem(ItemFailureCount, 0), ++expected) << cs.what;
        EXPECT_EQ(c.units().unitItem(1, 0), 0) << cs.what; // nothing half-stored
    }
    // stale data is stored, and still counts as a failed read
    rig.serve("R0", relay("R0", now.addSecs(-5 * 60), good));
    EXPECT_FALSE(rig.readRelay(0));
    EXPECT_EQ(c.units().unitItem(ItemFailureCount, 0), ++expected);
    EXPECT_EQ(c.units().unitItem(1, 0), 22);
    EXPECT_EQ(c.units().unitItem(ItemRB0 + 7, 0), 1);
    QFile::remove(QDir(rig.served.path()).filePath("R0.txt"));
    EXPECT_FALSE(rig.readRelay(0)); // missing file: HTTP 404
    EXPECT_EQ(rig.mails(), 0);      // no mail in download mode
    EXPECT_EQ(rig.window->rowLamp(0), Lamp::GivenUp);
}

TEST(ReadRelayUnit, AUnitWithoutAUsableNameIsGivenUpAtOnce)
{
    RelayRig rig(2);
    TextFile::writeWhole(rig.st.path("InetInf.ini"), inetInfText(0, {"", "../x"}, rig.http.url()));
    MontAll& w = rig.open();
    for (int pass = 0; pass < 2; ++pass)
        for (int u = 0; u < 2; ++u) {
            EXPECT_FALSE(rig.readRelay(u));
            EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, u), 4);
            EXPECT_EQ(w.rowLamp(u), Lamp::GivenUp);
        }
    // On record once each, like any unit given up.
    QStringList events;
    for (const auto& e : AlarmJournal::Read(rig.st.comm.journal().path()))
        events << e.event + QString::number(e.unit);
    EXPECT_EQ(events, QStringList({"通信断0", "通信断1"}));
}

TEST(ReadRelayUnit, StartNeedsTheSettingsInDownloadMode)
{
    RelayRig rig;
    rig.open();
    QFile::remove(rig.st.path("InetInf.ini"));
    rig.cycle().Activate(); // defaults: Mode2 1, LAN
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode2, 1);
    TextFile::writeWhole(rig.st.path("InetInf.ini"), inetInfText(0, {"R0"}, rig.http.url()));
    QFile::remove(rig.st.path("sysinf001.csv"));
    rig.cycle().Activate();
    EXPECT_FALSE(rig.cycle().headerListValid());
    EditSys(rig.st.comm, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    rig.start();
    EXPECT_FALSE(rig.cycle().Timer1.isActive());
    ASSERT_EQ(rig.st.messages.shown.size(), 1u);
    EXPECT_EQ(rig.st.messages.shown[0].text, QStringLiteral("設定リストが作成できませんでした"));
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("ファイルオープンエラー"));
}

TEST(CurlTransfer, ThroughANamedProxy)
{
    // A proxy that is not there: the fetch fails (and quickly) instead of going direct.
    QTemporaryDir served;
    HttpServer http(served.path());
    ASSERT_TRUE(http.ready());
    TextFile::writeWhole(QDir(served.path()).filePath("a.txt"), QStringLiteral("漢字\r\n"));
    CurlTransfer t;
    EXPECT_EQ(t.OpenURL(http.url() + "/a.txt"), QStringLiteral("漢字\r\n"));
    t.Proxy = "127.0.0.1";
    t.ProxyPort = "1";
    t.AccessType = InternetTransfer::NamedProxy;
    EXPECT_THROW(t.OpenURL(http.url() + "/a.txt"), TransferError);
}

TEST(ReadRelayUnit, GoesThroughTheNamedProxy)
{
    RelayRig rig;
    TinyProxy proxy;
    ASSERT_TRUE(rig.http.ready());
    ASSERT_TRUE(proxy.ready());
    rig.open();
    EditInet(rig.st.comm, [&](InternetSettings& s) { s.ProxyServerName = "127.0.0.1"; });
    EditInet(rig.st.comm, [&](InternetSettings& s) { s.ProxyPortNo = QString::number(proxy.port()); });
    rig.serve("R0", relay("R0", rig.st.clock.now(), "11,22,33,44,25,1,0,1,0,1,0,0,1"));
    ASSERT_TRUE(rig.readRelay(0));
    EXPECT_EQ(rig.transfer1.AccessType, InternetTransfer::NamedProxy);
    for (int i = 0; i < 10 && !proxy.log().contains("R0.txt"); ++i)
        QThread::msleep(50);
    EXPECT_TRUE(proxy.log().contains(rig.http.url() + "/R0.txt")) << proxy.log().toStdString();

    EditInet(rig.st.comm, [&](InternetSettings& s) { s.ProxyServerName.clear(); }); // the operator removed the proxy
    ASSERT_TRUE(rig.readRelay(0));
    EXPECT_NE(rig.transfer1.AccessType, InternetTransfer::NamedProxy);
}

TEST(CurlTransfer, AServerThatNeverAnswersDoesNotHangTheFetch)
{
    QTcpServer silent; // the kernel accepts the connection; nobody ever answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    CurlTransfer t;
    t.RequestTimeOutMs = 200;
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(t.OpenURL(QStringLiteral("http://127.0.0.1:%1/R0.txt").arg(silent.serverPort())), TransferError);
    EXPECT_LT(clock.elapsed(), 3000);
}
