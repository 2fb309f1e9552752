// The port setting dialog of one unit, with a scripted device link behind the poll engine.

#include "monitor/Dialog1.h"
#include "DialogEngine.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "WindowDriver.h"

#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

template <class Link = FakeLink> struct Dialog1Rig {
    Station st;
    Link link;
    FakeTransfer transfer;
    ScriptedEngine engine{link, transfer};
    std::unique_ptr<Dialog1> w;
    explicit Dialog1Rig(int mode2)
    {
        UnitRow a;
        a.name = QStringLiteral("機械0");
        UnitRow b;
        b.name = QStringLiteral("機械1");
        b.ip = QStringLiteral("127.0.0.12");
        b.pins = QStringLiteral("Ain,non,non,non,Din,non,Dout,non,non,non,non,non");
        b.control = QStringLiteral("Off");
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({a, b}));
        EXPECT_TRUE(st.comm.sys().LoadSysInf());
        QFile::remove(st.path("sysinf001.csv"));
        EditInet(st.comm, [&](InternetSettings& s) { s.Mode2 = int16_t(mode2); });
        w = std::make_unique<Dialog1>(st.comm, engine.engine, 1);
        w->show();
    }
    // "設定", then the unit's answer.
    void set()
    {
        click(*w, "OKButton");
        EXPECT_TRUE(Settle([&] { return !w->sending(); }));
    }
};

} // namespace

TEST(Dialog1, ShowsTheUnitAndInDownloadModeOnlyStoresIt)
{
    Dialog1Rig<> rig(0);
    Dialog1& w = *rig.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("IOPort設定"));
    EXPECT_EQ(text(w, "Nametext"), QStringLiteral("機械1"));
    EXPECT_EQ(text(w, "IPtext"), QStringLiteral("127.0.0.12"));
    EXPECT_TRUE(checked(w, "Option3_1"));
    EXPECT_TRUE(checked(w, "Option1_1"));
    EXPECT_TRUE(checked(w, "Option1_2"));
    EXPECT_TRUE(checked(w, "Option2_1"));
    EXPECT_TRUE(checked(w, "Option2_8")); // RB2 "Dout"
    EXPECT_EQ(control<QRadioButton>(w, "Option2_8")->accessibleName(), QStringLiteral("RB2 DigtalOut"));
    snap(w, QStringLiteral("Dialog1"));

    click(w, "Option2_6");
    click(w, "Option3_0");
    click(w, "OKButton");
    EXPECT_FALSE(w.sending());
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColRB0 + 2), QStringLiteral("non"));
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColControl), QStringLiteral("On"));
    EXPECT_TRUE(rig.link.log.isEmpty());
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_EQ(control<QPushButton>(w, "OKButton")->text(), QStringLiteral("設定"));
    EXPECT_TRUE(w.isVisible());
    ASSERT_TRUE(rig.st.comm.sys().LoadSysInf());
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColRB0 + 2), QStringLiteral("non"));
}

TEST(Dialog1, InLanModeSendsTheSettingAndReportsAUnitThatFails)
{
    Dialog1Rig<> rig(1);
    Dialog1& w = *rig.w;
    click(w, "Option1_3"); // RA1 analogue
    click(w, "OKButton");
    EXPECT_EQ(control<QPushButton>(w, "OKButton")->text(), QStringLiteral("通信中"));
    EXPECT_FALSE(control<QPushButton>(w, "OKButton")->isEnabled());
    EXPECT_TRUE(control<QPushButton>(w, "CancelButton")->isEnabled()); // it ends the send
    ASSERT_TRUE(Settle([&] { return !w.sending(); }));
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_TRUE(rig.link.log.contains(QStringLiteral("IP=127.0.0.12")));
    EXPECT_TRUE(rig.link.log.contains(QStringLiteral("SetDirp(5,1,1)")));
    EXPECT_TRUE(rig.link.log.contains(QStringLiteral("SetDirp(6,2,0)")));
    EXPECT_EQ(control<QPushButton>(w, "OKButton")->text(), QStringLiteral("設定"));
    EXPECT_TRUE(control<QPushButton>(w, "OKButton")->isEnabled());

    rig.link.down = true;
    rig.set();
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"通信エラーが発生しました．"});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("確認"));
    EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
    EXPECT_TRUE(rig.st.messages.shown[0].notice); // raised by the exchange: never waited for
    // saved before the unit was contacted
    ASSERT_TRUE(rig.st.comm.sys().LoadSysInf());
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColRA0 + 1), QStringLiteral("Ain"));
    click(w, "CancelButton");
    EXPECT_FALSE(w.isVisible());
}

// A unit whose time-out is minutes never holds the dialog: Escape ends the send on its lane and
// closes at once, and the answer that comes later changes nothing.
TEST(Dialog1, EscapeEndsTheSendAndClosesAtOnce)
{
    Dialog1Rig<GatedLink> rig(1);
    Dialog1& w = *rig.w;
    click(w, "OKButton");
    ASSERT_TRUE(w.sending());
    PressEscape(w);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.sending());
    rig.link.open();
    ASSERT_TRUE(Settle([&] { return rig.engine.engine.pending() == 0; }));
    EXPECT_TRUE(rig.st.messages.shown.empty());
}
