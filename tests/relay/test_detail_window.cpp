// The detail monitor window drawn from its slots, driven by its control names.

#include "relay/MontMain.h"
#include "RelayStation.h"
#include "outside/Switch.h"
#include "UnitSimProcess.h"
#include "StallingFtp.h"
#include "WindowDriver.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Lets the slots' work run to its end (at most 20 s).
void settle(MontMain& w)
{
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(20000);
    EventPump::waitUntil(
        [&] { return (!w.monitor().working() && !w.monitor().switchOperating()) || !limit.isActive(); });
}

// A LAN upload station over the given rows (unit 0 relays as "P0"), its detail monitor shown with
// the ticks left to the test, and slot 0 connected.
struct LanWindow {
    PollEngine engine{[] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); }};
    WindowOpener opener;
    std::unique_ptr<MontMain> w;
    LanWindow(Station& st, const QList<UnitRow>& rows)
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows));
        st.comm.sys().LoadSysInf();
        EditInet(st.comm, [&](InternetSettings& s) { s.Mode = 3; });
        EditInet(st.comm, [&](InternetSettings& s) { s.FileName[0] = QStringLiteral("P0"); });
        st.comm.inet().SaveInetInf();
    }
    MontMain& connect(Station& st)
    {
        w = std::make_unique<MontMain>(st.comm, engine, opener);
        w->monitor().setTimersEnabled(false);
        w->show();
        click(*w, "Opencmd_0");
        settle(*w);
        return *w;
    }
};

} // namespace

TEST(MontMainWindow, PreselectsUnitsAndDrawsASlotsWork)
{
    UnitSimProcess sim(2);
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(simulatedRows(sim, 2, QStringLiteral("ポンプ"))));
    st.comm.sys().LoadSysInf();
    EditInet(st.comm, [&](InternetSettings& s) { s.Mode = 3; });
    EditInet(st.comm, [&](InternetSettings& s) { s.FileName[0] = QStringLiteral("P0"); });
    EditInet(st.comm, [&](InternetSettings& s) { s.FileName[1] = QStringLiteral("P1"); });
    st.comm.inet().SaveInetInf();
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
    WindowOpener opener;
    bool opened = false;
    opener.add(StationWindow::ArmEdit, [&](QWidget*, const OpenArgs&) { opened = true; });
    MontMain w(st.comm, engine, opener);
    w.monitor().setTimersEnabled(false);
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("詳細モニタ"));
    EXPECT_EQ(control<QComboBox>(w, "NameCombo_0")->currentText(), QStringLiteral("ポンプ0"));
    EXPECT_EQ(control<QComboBox>(w, "NameCombo_1")->currentText(), QStringLiteral("ポンプ1"));
    EXPECT_EQ(control<QComboBox>(w, "NameCombo_2")->currentIndex(), -1);
    EXPECT_EQ(text(w, "IPtext_1"), QString::fromStdString(sim.ip(1)));
    EXPECT_EQ(text(w, "Stattext_0"), QStringLiteral("切断"));
    EXPECT_EQ(control<QLabel>(w, "Panel_1")->text(), QStringLiteral(" モニタ周期： 1 秒"));
    EXPECT_FALSE(control<QPushButton>(w, "BeepReset")->isVisible());
    EXPECT_EQ(control<QLineEdit>(w, "IPtext_0")->accessibleName(), QStringLiteral("IP Address 1"));
    EXPECT_EQ(control<Switch>(w, "Sw1_12")->accessibleName(), QStringLiteral("ｽｲｯﾁ RB4 2"));

    click(w, "Opencmd_0");
    settle(w);
    EXPECT_EQ(text(w, "Stattext_0"), QStringLiteral("接続中"));
    EXPECT_EQ(control<QPushButton>(w, "Opencmd_0")->text(), QStringLiteral("切断"));
    EXPECT_FALSE(control<QComboBox>(w, "NameCombo_0")->isEnabled());
    EXPECT_EQ(control<Switch>(w, "Sw1_4")->ForeColor(), QColor(255, 128, 0)); // RB4 "Dout"
    EXPECT_EQ(control<Switch>(w, "Sw1_0")->ForeColor(), QColor(Qt::white));
    st.clock.advance(1);
    w.monitor().Timer1Tick(0);
    settle(w);
    EXPECT_FALSE(text(w, "temptext_0").isEmpty());
    EXPECT_FALSE(control<QLabel>(w, "Picture1_0")->pixmap().isNull());
    snap(w, QStringLiteral("MontMain"));

    // A switch operation keeps the window disabled, with the busy pointer, until the output is set.
    w.monitor().SwitchFlipped(4, true);
    EXPECT_FALSE(w.isEnabled());
    EXPECT_EQ(w.cursor().shape(), Qt::BusyCursor);
    settle(w);
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(control<Switch>(w, "Sw1_4")->Value());

    // A settings button asks first, stops the slots, opens the window and reloads.
    click(w, "ArmSet");
    EXPECT_EQ(st.messageTexts().last(), QStringLiteral("モニタを停止します．よろしいですか？"));
    EXPECT_TRUE(opened);
    EXPECT_EQ(text(w, "Stattext_0"), QStringLiteral("切断"));
    EXPECT_TRUE(control<QComboBox>(w, "NameCombo_0")->isEnabled());

    // Choosing another unit in a running slot stops it.
    click(w, "Opencmd_1");
    settle(w);
    ASSERT_EQ(text(w, "Stattext_1"), QStringLiteral("接続中"));
    control<QComboBox>(w, "NameCombo_1")->setCurrentIndex(0);
    emit control<QComboBox>(w, "NameCombo_1")->activated(0);
    EXPECT_EQ(text(w, "Stattext_1"), QStringLiteral("切断"));
    EXPECT_EQ(text(w, "IPtext_1"), QString::fromStdString(sim.ip(0)));
}

TEST(MontMainWindow, AnInputsAlarmTurnsOnlyItsInputLedRed)
{
    UnitSimProcess sim(1);
    Station st;
    QList<UnitRow> rows = simulatedRows(sim, 1);
    rows[0].arm = QStringLiteral("Din: 0:High");
    LanWindow lan(st, rows);
    ASSERT_TRUE(sim.ok("din 0 0 1"));
    MontMain& w = lan.connect(st);
    st.clock.advance(1);
    w.monitor().Timer1Tick(0);
    settle(w);
    ASSERT_EQ(w.monitor().slotAlarm(0), 1);
    const QColor red(255, 0, 0);
    EXPECT_EQ(control<QLabel>(w, "Picture1_0")->palette().color(QPalette::Window), red);
    EXPECT_NE(control<QLabel>(w, "Picture2_0")->palette().color(QPalette::Window), red);
    EXPECT_NE(control<QLabel>(w, "Picture1_1")->palette().color(QPalette::Window), red);
}

TEST(MontMainWindow, ClosingWhileASlotWaitsForItsUnitEndsTheWindowAtOnce)
{
    UnitSimProcess sim(1);
    Station st;
    LanWindow lan(st, simulatedRows(sim, 1));
    MontMain& w = lan.connect(st);
    ASSERT_EQ(text(w, "Stattext_0"), QStringLiteral("接続中"));
    ASSERT_TRUE(sim.ok("fault 0 slow 80"));
    st.clock.advance(1);
    w.monitor().Timer1Tick(0);
    ASSERT_TRUE(w.monitor().working());
    ASSERT_GT(lan.engine.pending(), 0);
    w.close(); // nothing of the cycle is on the stack: the window ends now
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.monitor().working());
    EXPECT_FALSE(w.monitor().slotActive(0));
    // The dropped cycle's reading, when it comes, changes nothing.
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(10000);
    EventPump::waitUntil([&] { return lan.engine.pending() == 0 || !limit.isActive(); });
    QCoreApplication::processEvents();
    EXPECT_EQ(text(w, "Stattext_0"), QStringLiteral("切断"));
    EXPECT_FALSE(st.comm.files().FileExists(QStringLiteral("P0.txt")));
}

TEST(MontMainWindow, ClosingDuringAStalledFtpSendEndsWithinASecond)
{
    UnitSimProcess sim(1);
    StallingFtp server;
    ASSERT_TRUE(server.ready());
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(simulatedRows(sim, 1)));
    st.comm.sys().LoadSysInf();
    auto s = st.comm.inet().InternetSettings();
    s.Mode = 0;
    s.FTP = QStringLiteral("127.0.0.1");
    s.ProxyPortNo = QString::number(server.port());
    s.ID = QStringLiteral("ftpuser");
    s.PassWord = QStringLiteral("secret");
    s.URL = QStringLiteral("http://127.0.0.1:1");
    s.FileName[0] = QStringLiteral("P0");
    st.comm.inet().Commit(s);
    st.comm.inet().SaveInetInf();
    st.comm.setFtpStepTimeOutMs(30000); // the watchdog would end it only after half a minute
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
    WindowOpener opener;
    auto* w = new MontMain(st.comm, engine, opener);
    w->monitor().setTimersEnabled(false);
    w->show();
    click(*w, "Opencmd_0"); // the start resets the request file: its STOR stalls
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(10000);
    EventPump::waitUntil([&] { return server.stors > 0 || !limit.isActive(); });
    ASSERT_EQ(server.stors, 1);
    // Let libcurl hand over the data and settle into waiting for the server's answer.
    QTimer pause;
    pause.setSingleShot(true);
    pause.start(300);
    EventPump::waitUntil([&] { return !pause.isActive(); });
    ASSERT_TRUE(w->monitor().working());
    QElapsedTimer clock;
    clock.start();
    w->close();
    delete w;
    EXPECT_LT(clock.elapsed(), 3000);
}
