// The port setting pass over every monitored unit, with a scripted device link behind CurLink.

#include "Dialog4.h"
#include "FakeLink.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "TextFile.h"
#include "WindowDriver.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Fails every exchange with one address; can hold each exchange a moment.
class PickyLink : public FakeLink {
public:
    QString unreachable;
    std::chrono::milliseconds hold{0};
    QStringList aimed;
    void setIP(const QString& v) override
    {
        FakeLink::setIP(v);
        aimed << v;
    }
    void SetDirp(int32_t port, int16_t pin, int32_t d) override
    {
        std::this_thread::sleep_for(hold);
        if (IP() == unreachable)
            throw DeviceLinkError("no answer");
        FakeLink::SetDirp(port, pin, d);
    }
};

struct Dialog4Rig {
    Station st;
    PickyLink link;
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
        EXPECT_TRUE(st.comm.LoadSysInf());
        st.comm.CurLink = &link;
        w = std::make_unique<Dialog4>(st.comm);
        w->show();
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
    rig.link.unreachable = QStringLiteral("127.0.0.12");

    int lastValue = -1;
    QObject::connect(w.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { lastValue = v; });
    click(w, "OKButton");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"機械1で通信異常が発生しました．\r\nｼｽﾃﾑ設定を確認して下さい．"});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("確認"));
    EXPECT_EQ(rig.link.aimed, QStringList({"127.0.0.12", "127.0.0.14"}));
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("2"));
    EXPECT_EQ(lastValue, 4);
    EXPECT_EQ(w.ProgressBar1->maximum(), 5);
    EXPECT_FALSE(w.ProgressBar1->isVisible());
    EXPECT_EQ(w.OKButton->text(), QStringLiteral("開始"));
    EXPECT_TRUE(w.CancelButton->isEnabled());
}

TEST(Dialog4, NoMonitoredUnitSendsNothing)
{
    Dialog4Rig rig({false, false});
    click(*rig.w, "OKButton");
    EXPECT_TRUE(rig.link.log.isEmpty());
    EXPECT_EQ(text(*rig.w, "Text2"), QStringLiteral("0"));
    EXPECT_TRUE(rig.st.messages.shown.empty());
}

TEST(Dialog4, StopEndsThePassAfterTheUnitInProgress)
{
    Dialog4Rig rig({true, true, true});
    Dialog4& w = *rig.w;
    rig.link.hold = std::chrono::milliseconds(30);
    bool sawStop = false;
    QTimer::singleShot(0, &w, [&] {
        sawStop = w.passing() && w.OKButton->text() == QStringLiteral("中止") && !w.CancelButton->isEnabled();
        click(w, "OKButton");
    });
    click(w, "OKButton");
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(rig.link.aimed, QStringList{"127.0.0.11"});
    EXPECT_EQ(text(w, "Text2"), QStringLiteral("1"));
    EXPECT_FALSE(w.passing());
    EXPECT_EQ(w.OKButton->text(), QStringLiteral("開始"));
}
