// The switch control: what the detail windows rely on when the operator flips an output.

#include "outside/Switch.h"

#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Shown {
    Switch sw;
    std::vector<bool> seen; // Value() as each Flipped handler saw it

    Shown()
    {
        sw.resize(sw.sizeHint());
        sw.show();
        QObject::connect(&sw, &Switch::Flipped, [this] { seen.push_back(sw.Value()); });
    }
};

} // namespace

TEST(Switch, AClickFlipsItAndRaisesFlippedOnceWithTheNewValue)
{
    Shown s;
    QTest::mouseClick(&s.sw, Qt::LeftButton);
    EXPECT_TRUE(s.sw.Value());
    EXPECT_EQ(s.seen, std::vector<bool>{true});
    QTest::mouseClick(&s.sw, Qt::LeftButton);
    EXPECT_FALSE(s.sw.Value());
    EXPECT_EQ(s.seen, (std::vector<bool>{true, false}));
}

TEST(Switch, SpaceFlipsItLikeAClick)
{
    Shown s;
    s.sw.setFocus();
    QTest::keyClick(&s.sw, Qt::Key_Space);
    EXPECT_TRUE(s.sw.Value());
    EXPECT_EQ(s.seen, std::vector<bool>{true});
}

TEST(Switch, SettingTheValueRaisesNothing)
{
    Shown s;
    s.sw.setValue(true);
    EXPECT_TRUE(s.sw.Value());
    s.sw.setValue(false);
    s.sw.setValue(false);
    EXPECT_FALSE(s.sw.Value());
    EXPECT_TRUE(s.seen.empty());
}

TEST(Switch, AHandlerMayPutItBack)
{
    // How a window refuses a flip: it reverts the switch from inside the handler.
    Switch sw;
    sw.resize(sw.sizeHint());
    sw.show();
    int flips = 0;
    QObject::connect(&sw, &Switch::Flipped, [&] {
        ++flips;
        sw.setValue(!sw.Value());
    });
    QTest::mouseClick(&sw, Qt::LeftButton);
    EXPECT_FALSE(sw.Value());
    EXPECT_EQ(flips, 1);
}

TEST(Switch, AWhiteSwitchStillFlips)
{
    // White only marks a pin without an output: the window decides, so the control must not refuse.
    Shown s;
    s.sw.setForeColor(QColor(255, 128, 0));
    EXPECT_EQ(s.sw.ForeColor(), QColor(255, 128, 0));
    s.sw.setForeColor(Qt::white);
    EXPECT_EQ(s.sw.ForeColor(), QColor(255, 255, 255));
    QTest::mouseClick(&s.sw, Qt::LeftButton);
    EXPECT_EQ(s.seen, std::vector<bool>{true});
}

TEST(Switch, OnAndOffLookDifferent)
{
    Switch sw;
    sw.resize(sw.sizeHint());
    ASSERT_FALSE(sw.sizeHint().isEmpty());
    const QImage off = sw.grab().toImage();
    sw.setValue(true);
    const QImage on = sw.grab().toImage();
    EXPECT_NE(on, off);
    sw.setForeColor(QColor(255, 128, 0));
    EXPECT_NE(sw.grab().toImage(), on); // the knob shows the colour
}
