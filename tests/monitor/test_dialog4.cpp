// The port setting pass over every monitored unit, with a scripted device link behind the poll
// engine.

#include "monitor/Dialog4.h"
#include "DialogEngine.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "WindowDriver.h"

#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// Fails every exchange with the addresses named; holds each exchange until its gate opens.
class PickyLink : public GatedLink {
public:
    PickyLink() { open(); }
    QStringList unreachable;
    QStringList aimed;
    void setIP(const QString& v) override
    {
        GatedLink::setIP(v);
        aimed << v;
    }
    void SetDirp(int32_t port, int16_t pin, int32_t d) override
    {
        wait();
        if (unreachable.contains(IP()))
            throw DeviceLinkError("no answer");
        FakeLink::SetDirp(port, pin, d);
    }
};

struct Dialog4Rig {
    Station st;
    PickyLink link;
    FakeTransfer transfer;
    ScriptedEngine engine{link, transfer};
    std::unique_ptr<Dialog4> w;
    explicit Dialog4Rig(const QList<bool>& monitored)
    {
        QList<UnitRow> rows;
        for (int i = 0; i < monitored.size(); ++i) {
            UnitRow r;
            r.name = QStringLiteral("機械%1").arg(i);
            r.ip = QStringLiteral("127.0.0.%1").arg(11 + i);
            r.control = monitored[i] ? QStringLiteral("On") : QStringLiteral("Off");
            rows << r;
        }
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows));
        EXPECT_TRUE(st.comm.sys().LoadSysInf());
        w = std::make_unique<Dialog4>(st.comm, engine.engine);
        w->show();
    }
    // "開始", then the whole pass.
    void pass()
    {
        click(*w, "OKButton");
        EXPECT_TRUE(Settle([&] { return !w->passing(); }));
    }
};

} // namespace

TEST(Dialog4, PassReportsEachUnreachableUnitAndGoesOn)
{
    Dialog4Rig rig({false, true, false, true, false});
    Dialog4& w = *rig.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("IOPort設定"));
    EXPECT_EQ(text(w, "Text1"), QStringLiteral("5"));
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("2"));
    snap(w, QStringLiteral("Dialog4"));
    rig.link.unreachable = QStringList{"127.0.0.12"};

    int lastValue = -1;
    QProgressBar* bar = control<QProgressBar>(w, "ProgressBar1");
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { lastValue = v; });
    rig.pass();
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"機械1で通信異常が発生しました．\r\nｼｽﾃﾑ設定を確認して下さい．"});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("確認"));
    EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
    EXPECT_EQ(rig.link.aimed, QStringList({"127.0.0.12", "127.0.0.14"}));
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("2"));
    EXPECT_EQ(lastValue, 4);
    EXPECT_EQ(bar->maximum(), 5);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(control<QPushButton>(w, "OKButton")->text(), QStringLiteral("開始"));
    EXPECT_TRUE(control<QPushButton>(w, "CancelButton")->isEnabled());
}

TEST(Dialog4, NoMonitoredUnitSendsNothing)
{
    Dialog4Rig rig({false, false});
    rig.pass();
    EXPECT_TRUE(rig.link.log.isEmpty());
    EXPECT_EQ(text(*rig.w, "Text2"), QStringLiteral("0"));
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_TRUE(control<QPushButton>(*rig.w, "OKButton")->isEnabled());
}

TEST(Dialog4, StopEndsThePassAfterTheUnitInProgress)
{
    Dialog4Rig rig({true, true, true});
    Dialog4& w = *rig.w;
    QPushButton* ok = control<QPushButton>(w, "OKButton");
    rig.link.hold();
    click(w, "OKButton");
    EXPECT_TRUE(w.passing());
    EXPECT_EQ(ok->text(), QStringLiteral("中止"));
    EXPECT_FALSE(control<QPushButton>(w, "CancelButton")->isEnabled());
    click(w, "OKButton");
    EXPECT_EQ(ok->text(), QStringLiteral("開始"));
    EXPECT_FALSE(control<QProgressBar>(w, "ProgressBar1")->isVisible());
    EXPECT_FALSE(ok->isEnabled()); // nothing to start until the unit in progress is done
    rig.link.open();
    ASSERT_TRUE(Settle([&] { return !w.passing(); }));
    EXPECT_EQ(rig.link.aimed, QStringList{"127.0.0.11"});
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("1"));
    EXPECT_EQ(ok->text(), QStringLiteral("開始"));
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_TRUE(control<QPushButton>(w, "CancelButton")->isEnabled());
}

// Escape, the close box and "終了" cannot end the dialog under its pass, and the pass does not
// hang on the main window's link: another window clearing it changes nothing.
TEST(Dialog4, ThePassCannotBeClosedAndReachesEveryUnit)
{
    Dialog4Rig rig({true, false, true, true});
    Dialog4& w = *rig.w;
    rig.link.hold();
    click(w, "OKButton");
    ASSERT_TRUE(w.passing());
    PressEscape(w);
    w.close();
    click(w, "CancelButton");
    EXPECT_TRUE(w.isVisible());

    rig.link.open();
    ASSERT_TRUE(Settle([&] { return !w.passing(); }));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(rig.link.aimed, QStringList({"127.0.0.11", "127.0.0.13", "127.0.0.14"}));
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("3"));
    EXPECT_TRUE(rig.st.messages.shown.empty());
    PressEscape(w); // after the pass, Escape closes
    EXPECT_FALSE(w.isVisible());
}

// The boxes of units that do not answer are notices: the pass goes on while they stay open,
// and each unit still gets its own.
TEST(Dialog4, ABoxDuringThePassDoesNotHoldIt)
{
    Dialog4Rig rig({true, true, true, true});
    Dialog4& w = *rig.w;
    rig.st.messages.keepNoticesOpen = true;
    rig.link.unreachable = QStringList{"127.0.0.11", "127.0.0.13"};
    rig.pass();
    EXPECT_EQ(rig.link.aimed, QStringList({"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"}));
    EXPECT_EQ(rig.st.messageTexts(), QStringList({"機械0で通信異常が発生しました．\r\nｼｽﾃﾑ設定を確認して下さい．",
                                                  "機械2で通信異常が発生しました．\r\nｼｽﾃﾑ設定を確認して下さい．"}));
    for (const auto& m : rig.st.messages.shown)
        EXPECT_TRUE(m.notice);
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("4"));
    // Units 1 and 3 (after the first box was raised) got their whole setting.
    EXPECT_EQ(rig.link.log.filter(QStringLiteral("SetDirp(5,5,1)")).size(), 2);
}
