// The main of every test program with windows: offscreen, and a test that leaves a window on
// screen fails the program (each test runs as its own program under ctest).

#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

bool g_leaked = false;

class NoWindowLeftOpen : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            g_leaked = true;
            std::fprintf(stderr, "%s.%s left a window open: %s \"%s\"\n", test.test_suite_name(), test.name(),
                         w->metaObject()->className(), qPrintable(w->objectName()));
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new NoWindowLeftOpen);
    const int result = RUN_ALL_TESTS();
    return result != 0 ? result : g_leaked ? 1 : 0;
}
