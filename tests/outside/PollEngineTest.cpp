// The poll engine: off-thread work, per-key order, no unit holding up another, bounded ending.

#include "FakeLink.h"
#include "FakeTransfer.h"
#include "InternetTransfer.h"
#include "PollEngine.h"
#include "VARNIX.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

PollEngine::LinkFactory fakeLinks()
{
    return [] { return std::make_unique<FakeLink>(); };
}
PollEngine::TransferFactory fakeTransfers()
{
    return [] { return std::make_unique<FakeTransfer>(); };
}

void pumpUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

using Work = std::function<int(PollEngine::Tools&)>;

Work sleepThen(int ms, int value)
{
    return [ms, value](PollEngine::Tools&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return value;
    };
}

} // namespace

TEST(PollEngine, WorkRunsOffThisThreadAndAnswersOnIt)
{
    PollEngine engine(fakeLinks(), fakeTransfers());
    QObject context;
    std::atomic<QThread*> ranOn{nullptr};
    QThread* answeredOn = nullptr;
    int value = 0;
    engine.submit<int>(
        "a", &context,
        [&](PollEngine::Tools& tools) {
            ranOn = QThread::currentThread();
            tools.link.setIP("10.0.0.1"); // each lane has its own link
            return 42;
        },
        [&](int v) {
            answeredOn = QThread::currentThread();
            value = v;
        });
    EXPECT_EQ(engine.pending(), 1);
    pumpUntil([&] { return value != 0; });
    EXPECT_EQ(value, 42);
    EXPECT_NE(ranOn.load(), QThread::currentThread());
    EXPECT_EQ(answeredOn, QThread::currentThread());
    EXPECT_EQ(engine.pending(), 0);
}

TEST(PollEngine, OneKeyRunsInOrderWhileASlowKeyHoldsUpNoOther)
{
    PollEngine engine(fakeLinks(), fakeTransfers());
    QObject context;
    std::vector<int> answers;
    auto record = [&](int v) { answers.push_back(v); };
    // The slow key stays inside its exchange until the quick key's answers are all in.
    std::atomic<bool> release{false};
    engine.submit<int>(
        "slow", &context,
        [&](PollEngine::Tools&) {
            QDeadlineTimer limit(20000);
            while (!release && !limit.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 99;
        },
        record);
    for (int i = 1; i <= 5; ++i)
        engine.submit<int>("quick", &context, sleepThen(5 - i, i), record);
    pumpUntil([&] { return answers.size() >= 5; });
    EXPECT_EQ(answers, std::vector<int>({1, 2, 3, 4, 5})); // in order, and none waited for the slow key
    release = true;
    pumpUntil([&] { return answers.size() == 6; });
    EXPECT_EQ(answers.back(), 99);
}

TEST(PollEngine, ManyKeysRunAtOnce)
{
    PollEngine engine(fakeLinks(), fakeTransfers());
    QObject context;
    int answered = 0;
    // Each exchange waits until all 100 are inside at the same time: only lanes side by side get there.
    std::atomic<int> inside{0};
    std::atomic<bool> allInside{false};
    const QDeadlineTimer limit(20000); // one limit for all, so lanes in a row would end too
    for (int k = 0; k < 100; ++k)
        engine.submit<int>(
            QString::number(k), &context,
            [&, k](PollEngine::Tools&) {
                ++inside;
                while (inside < 100 && !limit.hasExpired())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (inside == 100)
                    allInside = true;
                return k;
            },
            [&](int) { ++answered; });
    pumpUntil([&] { return answered == 100; }, 30000);
    EXPECT_EQ(answered, 100);
    EXPECT_TRUE(allInside);
    EXPECT_EQ(engine.laneCount(), 100);
}

TEST(PollEngine, ALaneLimitSharesLanesAndKeepsEveryKeyWorking)
{
    PollEngine engine(fakeLinks(), fakeTransfers(), 2);
    QObject context;
    int answered = 0;
    for (int k = 0; k < 10; ++k)
        engine.submit<int>(QString::number(k), &context, sleepThen(1, k), [&](int) { ++answered; });
    pumpUntil([&] { return answered == 10; });
    EXPECT_EQ(answered, 10);
    EXPECT_EQ(engine.laneCount(), 2);
}

TEST(PollEngine, NoAnswerReachesAContextThatIsGone)
{
    PollEngine engine(fakeLinks(), fakeTransfers());
    bool answered = false;
    {
        QObject context;
        engine.submit<int>("a", &context, sleepThen(50, 1), [&](int) { answered = true; });
    }
    pumpUntil([&] { return engine.pending() == 0; }, 500);
    EXPECT_FALSE(answered);
}

TEST(PollEngine, WorkThatThrowsStillAnswersAndTheLaneGoesOn)
{
    PollEngine engine(fakeLinks(), fakeTransfers());
    QObject context;
    int answers = 0;
    engine.submit<int>(
        "a", &context, [](PollEngine::Tools&) -> int { throw DeviceLinkError("boom"); }, [&](int) { ++answers; });
    engine.submit<int>("a", &context, sleepThen(0, 2), [&](int) { ++answers; });
    pumpUntil([&] { return answers == 2; });
    EXPECT_EQ(answers, 2);
}

TEST(PollEngine, EndingCancelsAUnitAndAServerThatNeverAnswerAndJoinsEveryLane)
{
    // Accepts connections (the kernel does, without an event loop) and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const quint16 port = silent.serverPort();
    std::atomic<int> inside{0};
    QElapsedTimer t;
    {
        PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
        QObject context;
        engine.submit<int>(
            "unit", &context,
            [&](PollEngine::Tools& tools) {
                tools.link.setIP("127.0.0.1");
                tools.link.setParallelPort(int16_t(port));
                tools.link.setTimeOut(60);
                ++inside;
                try {
                    tools.link.GetAnalog(UnitMap::PortA, 0);
                } catch (const DeviceLinkError&) {
                }
                return 0;
            },
            [](int) {});
        engine.submit<int>(
            "http://127.0.0.1/relay", &context,
            [&](PollEngine::Tools& tools) {
                ++inside;
                try {
                    tools.transfer.OpenURL(QStringLiteral("http://127.0.0.1:%1/A.txt").arg(port));
                } catch (const std::exception&) {
                }
                return 0;
            },
            [](int) {});
        while (inside < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // both are waiting on the server now
        t.start();
    }
    EXPECT_LT(t.elapsed(), 1000);
}

TEST(PollEngine, ALaneLeftIdleDropsItsLinkAndMakesANewOneForTheNextWork)
{
    struct CountedLink : FakeLink {
        std::atomic<int>& gone;
        explicit CountedLink(std::atomic<int>& g) : gone(g) {}
        ~CountedLink() override { ++gone; }
    };
    std::atomic<int> made{0}, gone{0};
    PollEngine engine(
        [&] {
            ++made;
            return std::make_unique<CountedLink>(gone);
        },
        fakeTransfers());
    engine.setIdleCloseMs(50);
    QObject context;
    int answers = 0;
    for (int round = 1; round <= 2; ++round) {
        engine.submit<int>("a", &context, sleepThen(0, 1), [&](int) { ++answers; });
        pumpUntil([&] { return answers == round; });
        pumpUntil([&] { return gone == round; }, 10000);
        EXPECT_EQ(made, round);
        EXPECT_EQ(gone, round);
    }
}
