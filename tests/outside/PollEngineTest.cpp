// The poll engine: off-thread work, per-key order, no unit holding up another, bounded ending.

#include "FakeLink.h"
#include "FakeTransfer.h"
#include "outside/InternetTransfer.h"
#include "outside/PollEngine.h"
#include "ScriptedUnit.h"
#include "outside/VARNIX.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <set>
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

// The right answer to a read of one holding register, holding 1.
std::string holdingOne(const std::string& req)
{
    return req.substr(0, 2) + std::string("\0\0\0\5\1\3\2\0\1", 9);
}

void aimAt(DeviceLink& link, int port, int32_t timeOut)
{
    link.setIP(QStringLiteral("127.0.0.1"));
    link.setLcdPort(0);
    link.setParallelPort(int16_t(port));
    link.setSerialPort(0);
    link.setBaudRate(QStringLiteral("9600"));
    link.setTimeOut(timeOut);
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
    // Accept connections (the kernel does, without an event loop or a thread) and never say a
    // word. The unit's port must fit the link's 16-bit port, which a system-chosen one may not.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const quint16 port = silent.serverPort();
    ScriptedUnit silentUnit(nullptr);
    ASSERT_NE(silentUnit.port, 0);
    std::atomic<int> inside{0};
    QElapsedTimer t;
    {
        PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
        QObject context;
        engine.submit<int>(
            "unit", &context,
            [&](PollEngine::Tools& tools) {
                tools.link.setIP("127.0.0.1");
                tools.link.setParallelPort(int16_t(silentUnit.port));
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

TEST(PollEngine, KeysSharingALaneEachKeepTheirOwnLink)
{
    std::atomic<int> made{0};
    PollEngine engine(
        [&] {
            ++made;
            return std::make_unique<FakeLink>();
        },
        fakeTransfers(), 1);
    QObject context;
    std::map<QString, std::set<DeviceLink*>> seen; // touched by the one lane only
    int answers = 0;
    for (int round = 0; round < 3; ++round)
        for (const QString key : {"10.0.0.1:502", "10.0.0.2:502"})
            engine.submit<int>(
                key, &context,
                [&seen, key](PollEngine::Tools& tools) {
                    seen[key].insert(&tools.link);
                    return 0;
                },
                [&](int) { ++answers; });
    pumpUntil([&] { return answers == 6; });
    ASSERT_EQ(answers, 6);
    EXPECT_EQ(engine.laneCount(), 1);
    EXPECT_EQ(made, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen["10.0.0.1:502"].size(), 1u) << "a key keeps its link from one work to the next";
    EXPECT_EQ(seen["10.0.0.2:502"].size(), 1u);
    EXPECT_NE(*seen["10.0.0.1:502"].begin(), *seen["10.0.0.2:502"].begin()) << "keys never share a link";
}

TEST(PollEngine, ALinkUnusedForTheIdlePeriodGoesWhileItsLaneWorksForAnotherKey)
{
    struct NamedLink : FakeLink {
        std::function<void()> onGone;
        ~NamedLink() override { onGone(); }
    };
    std::atomic<int> goneA{0}, goneB{0};
    std::atomic<int> made{0};
    PollEngine engine(
        [&] {
            auto link = std::make_unique<NamedLink>();
            link->onGone = [&, first = made++ == 0] { ++(first ? goneB : goneA); };
            return link;
        },
        fakeTransfers(), 1);
    engine.setIdleCloseMs(100);
    QObject context;
    // b once, then a queue of work on a that keeps the lane busy until b's link has gone (or for
    // far longer than b's idle period, when it never goes); what is left then runs at once.
    int answers = 0;
    int goneBDuringA = -1, goneADuringA = -1;
    engine.submit<int>("b", &context, sleepThen(0, 0), [&](int) { ++answers; });
    const int aWorks = 1000;
    for (int i = 0; i < aWorks; ++i)
        engine.submit<int>(
            "a", &context,
            [&, last = i == aWorks - 1](PollEngine::Tools&) {
                if (goneB == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (last) {
                    goneBDuringA = goneB;
                    goneADuringA = goneA;
                }
                return 0;
            },
            [&](int) { ++answers; });
    pumpUntil([&] { return answers == aWorks + 1; }, 20000);
    ASSERT_EQ(answers, aWorks + 1);
    EXPECT_EQ(goneBDuringA, 1) << "b's link outlived its idle period because the lane was busy";
    EXPECT_EQ(goneADuringA, 0) << "a link in use was dropped";
    pumpUntil([&] { return goneA == 1; }, 10000);
    EXPECT_EQ(goneA, 1) << "a's link is dropped once idle too";
}

TEST(PollEngine, TwoUnitsSharingALaneGetAConnectionEachUntilIdle)
{
    ScriptedUnit unitA([](const std::string& req, int) { return holdingOne(req); });
    ScriptedUnit unitB([](const std::string& req, int) { return holdingOne(req); });
    ASSERT_NE(unitA.port, 0);
    ASSERT_NE(unitB.port, 0);
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, fakeTransfers(), 1);
    engine.setIdleCloseMs(150);
    QObject context;
    int ok = 0, answers = 0;
    // Queued at once, as a poll tick does: the units take turns on the one lane.
    for (int round = 0; round < 3; ++round)
        for (const ScriptedUnit* unit : {&unitA, &unitB})
            engine.submit<bool>(
                QStringLiteral("127.0.0.1:%1").arg(unit->port), &context,
                [port = unit->port](PollEngine::Tools& tools) {
                    aimAt(tools.link, port, 5);
                    return tools.link.GetDirp(UnitMap::PortB, 0) == 1;
                },
                [&](bool good) {
                    ++answers;
                    ok += good;
                });
    pumpUntil([&] { return answers == 6; }, 20000);
    EXPECT_EQ(ok, 6);
    EXPECT_EQ(unitA.connections(), 1) << "each turn of the lane reconnected";
    EXPECT_EQ(unitB.connections(), 1);
    pumpUntil([&] { return unitA.open() == 0 && unitB.open() == 0; }, 10000);
    EXPECT_EQ(unitA.open(), 0) << "an idle link kept its connection";
    EXPECT_EQ(unitB.open(), 0);
}

TEST(PollEngine, EndingCancelsAnExchangeOnALaneThatServesSeveralUnits)
{
    // The kernel accepts for the silent unit, which never reads: the exchange on the second key
    // would wait for its whole time-out.
    ScriptedUnit answering([](const std::string& req, int) { return holdingOne(req); });
    ScriptedUnit silent(nullptr);
    const int silentPort = silent.port;
    std::atomic<bool> inside{false};
    QElapsedTimer t;
    {
        PollEngine engine([] { return std::make_unique<VARNIX>(); }, fakeTransfers(), 1);
        QObject context;
        for (int port : {answering.port, silentPort})
            engine.submit<int>(
                QStringLiteral("127.0.0.1:%1").arg(port), &context,
                [&, port](PollEngine::Tools& tools) {
                    aimAt(tools.link, port, 60);
                    inside = port == silentPort;
                    try {
                        tools.link.GetDirp(UnitMap::PortB, 0);
                    } catch (const DeviceLinkError&) {
                    }
                    return 0;
                },
                [](int) {});
        QDeadlineTimer limit(20000);
        while (!inside && !limit.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(inside);
        t.start();
    }
    // Far below the 60 s the exchange would otherwise wait.
    EXPECT_LT(t.elapsed(), 10000);
}
