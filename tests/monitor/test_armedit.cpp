// The alarm settings window driven by its control names on a temporary working directory.

#include "monitor/ArmEdit.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "WindowDriver.h"

#include <QComboBox>
#include <QFile>
#include <QRadioButton>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

using Answer = MessageBoxService::Answer;

struct ArmRig {
    Station st;
    std::unique_ptr<ArmEdit> w;
    ArmRig()
    {
        UnitRow off;
        off.name = QStringLiteral("機械0");
        UnitRow on;
        on.name = QStringLiteral("機械1");
        // RA0 Ain, RA2 Ain; RB0..3 Din, RB4..5 Dout, RB6..7 none
        on.pins = QStringLiteral("Ain,non,Ain,non,Din,Din,Din,Din,Dout,Dout,non,non");
        on.arm = QStringLiteral("Din: 3:Low");
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({off, on}, 1, "s", 1, "s", 2, 3));
        EXPECT_TRUE(st.comm.sys().LoadSysInf());
        QFile::remove(st.path("sysinf001.csv")); // so a test sees whether the window wrote it
        w = std::make_unique<ArmEdit>(st.comm);
        w->show();
    }
    void choose(int unit)
    {
        control<QComboBox>(*w, "DevName")->setCurrentIndex(unit);
        emit control<QComboBox>(*w, "DevName")->activated(unit);
    }
    void set(int kind, int pin, int condition)
    {
        control<QComboBox>(*w, "Combo2")->setCurrentIndex(kind);
        control<QComboBox>(*w, "Combo3")->setCurrentIndex(pin);
        control<QComboBox>(*w, "Combo4")->setCurrentIndex(condition);
    }
    bool written() const { return QFile::exists(st.path("sysinf001.csv")); }
};

} // namespace

TEST(ArmEdit, ShowsEachUnitsSetting)
{
    ArmRig rig;
    ArmEdit& w = *rig.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("アラーム設定"));
    EXPECT_TRUE(checked(w, "Option3_1"));
    EXPECT_FALSE(control<QComboBox>(w, "Combo2")->isEnabled());
    EXPECT_EQ(control<QComboBox>(w, "Combo2")->currentText(), QStringLiteral("ﾃﾞｼﾞﾀﾙ入力"));
    EXPECT_EQ(control<QComboBox>(w, "Combo3")->currentIndex(), 0);
    EXPECT_EQ(control<QComboBox>(w, "Combo4")->currentIndex(), 0);
    EXPECT_EQ(text(w, "Recycl"), QStringLiteral(" 2Sec"));
    EXPECT_EQ(text(w, "Recount"), QStringLiteral(" 3"));
    EXPECT_FALSE(w.retryShown());
    snap(w, QStringLiteral("ArmEdit"));

    rig.choose(1);
    EXPECT_EQ(w.unit(), 1);
    EXPECT_TRUE(checked(w, "Option3_0"));
    EXPECT_TRUE(control<QComboBox>(w, "Combo3")->isEnabled());
    EXPECT_EQ(control<QComboBox>(w, "Combo2")->currentIndex(), 1);
    EXPECT_EQ(control<QComboBox>(w, "Combo3")->currentText(), QStringLiteral("RB3"));
    EXPECT_EQ(control<QComboBox>(w, "Combo4")->currentText(), QStringLiteral("Low"));
    const int compact = w.height();
    w.ToggleRetrySection();
    EXPECT_TRUE(w.retryShown());
    EXPECT_GT(w.height(), compact);
    snap(w, QStringLiteral("ArmEdit-retry"));
    w.ToggleRetrySection();
    EXPECT_EQ(w.height(), compact);
}

TEST(ArmEdit, StoresSettingsAsTheAlarmEvaluationReadsThemAndRefusesWrongPins)
{
    ArmRig rig;
    ArmEdit& w = *rig.w;
    rig.choose(1);
    const QString refused = QStringLiteral("入力ピン番号が無効です．");
    struct Case {
        int kind, pin, condition;
        QString stored; // empty: refused
    };
    for (const Case& c : {Case{0, 2, 0, "Ain: 2:High"}, Case{0, 5, 0, ""}, Case{0, 1, 0, ""},
                          Case{1, 5, 1, "Din: 5:Low"}, Case{1, 6, 0, ""}, Case{1, 0, 0, "Din: 0:High"}}) {
        rig.st.messages.shown.clear();
        rig.set(c.kind, c.pin, c.condition);
        click(w, "Command1");
        SCOPED_TRACE(c.pin);
        if (c.stored.isEmpty()) {
            EXPECT_EQ(rig.st.messageTexts(), QStringList{refused});
            EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
            continue;
        }
        EXPECT_EQ(rig.st.messageTexts(), QStringList{"変更してもよろしいですか？"});
        EXPECT_EQ(rig.st.comm.sys().cell(1, ColArm), c.stored);
        EXPECT_EQ(rig.st.comm.sys().GetArmField(1, 0), c.kind == 0 ? QStringLiteral("Ain") : QStringLiteral("Din"));
        EXPECT_EQ(rig.st.comm.sys().GetArmField(1, 1), QString::number(c.pin));
    }
    ASSERT_TRUE(rig.written());
    ASSERT_TRUE(rig.st.comm.sys().LoadSysInf());
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColArm), QStringLiteral("Din: 0:High"));

    // Turning the alarm off stores "non"; Cancel stores nothing.
    click(w, "Option3_1");
    EXPECT_FALSE(control<QComboBox>(w, "Combo2")->isEnabled());
    rig.st.messages.answers = {Answer::Cancel};
    click(w, "Command1");
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColArm), QStringLiteral("Din: 0:High"));
    click(w, "Command1");
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColArm), QStringLiteral("non"));
}

TEST(ArmEdit, SliderChangesAskAtEndAndAreWrittenOnce)
{
    ArmRig rig;
    ArmEdit& w = *rig.w;
    w.ToggleRetrySection();
    control<QSlider>(w, "Slider1")->setValue(7);
    EXPECT_EQ(text(w, "Recycl"), QStringLiteral(" 7Sec"));
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadCycl, 7);
    EXPECT_TRUE(w.dirty());

    // A refused pin keeps the retry change pending.
    rig.choose(1);
    rig.set(0, 5, 0);
    click(w, "Command1");
    EXPECT_TRUE(w.dirty());

    rig.st.messages.shown.clear();
    rig.st.messages.answers = {Answer::Cancel};
    click(w, "Command2");
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(rig.written());
    control<QSlider>(w, "Slider2")->setValue(10);
    click(w, "Command2");
    EXPECT_EQ(rig.st.messageTexts(), QStringList(2, QStringLiteral("変更してもよろしいですか？")));
    EXPECT_FALSE(w.isVisible());
    ASSERT_TRUE(rig.written());
    ASSERT_TRUE(rig.st.comm.sys().LoadSysInf());
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadCycl, 7);
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadSize, 10);
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColArm), QStringLiteral("Din: 3:Low")); // the unapplied lists are not saved
}

TEST(ArmEdit, SettingWritesARetryChangeWhenTheAlarmIsUnchanged)
{
    ArmRig rig;
    ArmEdit& w = *rig.w;
    rig.choose(1);
    w.ToggleRetrySection();
    control<QSlider>(w, "Slider1")->setValue(9);
    control<QSlider>(w, "Slider2")->setValue(6);
    click(w, "Command1");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"変更してもよろしいですか？"});
    EXPECT_FALSE(w.dirty());
    ASSERT_TRUE(rig.written());
    ASSERT_TRUE(rig.st.comm.sys().LoadSysInf());
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadCycl, 9);
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadSize, 6);
    EXPECT_EQ(rig.st.comm.sys().cell(1, ColArm), QStringLiteral("Din: 3:Low")); // the stored form
    EXPECT_TRUE(ArmEditRules::SameArm(QStringLiteral("Din:3:Low"), QStringLiteral("Din: 3:Low")));
    EXPECT_FALSE(ArmEditRules::SameArm(QStringLiteral("Din:3:Low"), QStringLiteral("Din: 3:High")));
    rig.st.messages.shown.clear();
    click(w, "Command1"); // nothing changed: nothing asked
    EXPECT_TRUE(rig.st.messages.shown.empty());
}
