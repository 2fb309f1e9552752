// The station's Modbus TCP client against units that break the rules: scripted servers on
// loopback and the simulator's trickle fault. Each exchange must end within its time-out and never
// pass a reply that does not answer the request.

#include "outside/ModbusTcpClient.h"
#include "ScriptedUnit.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point t0)
{
    return std::chrono::duration<double>(Steady::now() - t0).count();
}

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s.push_back(static_cast<char>(v));
    return s;
}

// The right answer to a read of one holding register (GetDirp), holding 1.
std::string dirReply(const std::string& req, int unitId = 1, int protocol = 0, int length = 5)
{
    return req.substr(0, 2) + bytes({protocol >> 8, protocol & 0xFF, length >> 8, length & 0xFF, unitId, 3, 2, 0, 1});
}

const std::string kLoopback = "127.0.0.1";
// Read holding register 8 (a direction), and input registers 0..5 (port A in one request).
const std::string kReadDirection = bytes({3, 0, 8, 0, 1});
const std::string kReadPortA = bytes({4, 0, 0, 0, 6});

// Waits, within a generous limit, until done() holds.
template <class Done> bool eventually(Done done)
{
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// A clock the test moves: each look at it moves it on by step.
class SteppingClock : public MonotonicClock {
public:
    time_point now() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_t += step;
        return m_t;
    }
    void advance(std::chrono::milliseconds d)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_t += d;
    }
    std::chrono::milliseconds step{0};

private:
    mutable std::mutex m_mutex;
    mutable time_point m_t = std::chrono::steady_clock::now();
};

TEST(ModbusTcpClientMisbehavingUnit, TricklingReplyEndsWithinTheTimeOut)
{
    UnitSimProcess sim(1, "127.0.0.51");
    ASSERT_TRUE(sim.running()) << sim.error();
    // Every byte comes well within the gap allowed between bytes; the whole reply (21 bytes)
    // would take 420 ms.
    ASSERT_TRUE(sim.ok("fault 0 trickle 20"));
    ModbusTcpClient client;
    client.setByteGapMs(200);
    const auto t0 = Steady::now();
    try {
        client.exchange("127.0.0.51", sim.port(), kReadPortA, 250);
        ADD_FAILURE() << "a trickled reply was taken";
    } catch (const ModbusTcpClient::Failure& e) {
        EXPECT_STREQ(e.what(), "reply not complete within the time-out");
        EXPECT_FALSE(e.connecting());
    }
    EXPECT_LT(secondsSince(t0), 0.25 + 0.4);
    EXPECT_GE(secondsSince(t0), 0.25);
    EXPECT_FALSE(client.isConnected());
    ASSERT_TRUE(sim.ok("fault 0 up"));
    EXPECT_EQ(client.exchange("127.0.0.51", sim.port(), kReadPortA, 2000).substr(0, 2), bytes({4, 12}));
}

TEST(ModbusTcpClientMisbehavingUnit, AReplyThatStopsHalfWayEndsAfterTheByteGap)
{
    // The first three bytes of the right answer, and never the rest.
    ScriptedUnit unit([](const std::string& req, int) { return dirReply(req).substr(0, 3); });
    ModbusTcpClient client;
    EXPECT_EQ(client.byteGapMs(), ModbusTcpClient::kByteGapMs);
    client.setByteGapMs(50);
    const auto t0 = Steady::now();
    try {
        client.exchange(kLoopback, unit.port, kReadDirection, 60000);
        ADD_FAILURE() << "half a reply was taken";
    } catch (const ModbusTcpClient::Failure& e) {
        EXPECT_STREQ(e.what(), "reply broke off");
    }
    EXPECT_GE(secondsSince(t0), 0.05);
    EXPECT_LT(secondsSince(t0), 0.05 + 0.3) << "the gap did not end the wait";
    EXPECT_FALSE(client.isConnected());
}

TEST(ModbusTcpClientMisbehavingUnit, UnitThatClosesAfterEachReplyIsAskedAgainOnAFreshConnection)
{
    // One answer per connection; the next request on it is met by a close, no reply byte.
    ScriptedUnit unit([](const std::string& req, int nth) { return nth == 0 ? dirReply(req) : std::string(); });
    ASSERT_NE(unit.port, 0);
    ModbusTcpClient client;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(client.exchange(kLoopback, unit.port, kReadDirection, 1000), bytes({3, 2, 0, 1})) << "exchange " << i;
    EXPECT_EQ(unit.connections(), 5);

    // A fresh connection that fails is a failure: no second try.
    ScriptedUnit closer([](const std::string&, int) { return std::string(); });
    ModbusTcpClient other;
    EXPECT_THROW(other.exchange(kLoopback, closer.port, kReadDirection, 1000), ModbusTcpClient::Failure);
    EXPECT_EQ(closer.connections(), 1);
}

TEST(ModbusTcpClientMisbehavingUnit, RepliesThatBreakTheProtocolAreFailures)
{
    struct Case {
        const char* what;
        std::function<std::string(const std::string&)> reply;
    };
    const std::vector<Case> cases = {
        {"unit id 5", [](const std::string& r) { return dirReply(r, 5); }},
        {"unit id 0", [](const std::string& r) { return dirReply(r, 0); }},
        {"protocol id 1", [](const std::string& r) { return dirReply(r, 1, 1); }},
        {"MBAP length one short", [](const std::string& r) { return dirReply(r, 1, 0, 4); }},
        {"MBAP length one long", [](const std::string& r) { return dirReply(r, 1, 0, 6) + bytes({0}); }},
        {"another transaction",
         [](const std::string& r) {
             return bytes({r[0] ^ 0x40, r[1]}) + dirReply(r).substr(2);
         }},
        {"byte count off",
         [](const std::string& r) {
             return r.substr(0, 2) + bytes({0, 0, 0, 5, 1, 3, 3, 0, 1});
         }},
    };
    // One unit plays every case in turn, a connection each; the last plays the right answer.
    std::atomic<size_t> playing{0};
    ScriptedUnit unit([&](const std::string& req, int) {
        return playing < cases.size() ? cases[playing].reply(req) : dirReply(req);
    });
    for (const Case& c : cases) {
        ModbusTcpClient client;
        EXPECT_THROW(client.exchange(kLoopback, unit.port, kReadDirection, 1000), ModbusTcpClient::Failure) << c.what;
        EXPECT_FALSE(client.isConnected()) << c.what;
        ++playing;
    }
    ModbusTcpClient client;
    EXPECT_EQ(client.exchange(kLoopback, unit.port, kReadDirection, 1000), bytes({3, 2, 0, 1}));
    EXPECT_EQ(unit.connections(), int(cases.size()) + 1);
}

TEST(ModbusTcpClientMisbehavingUnit, ConnectTimeOutSaysSo)
{
    // A listener with a full queue that never accepts: further connects get no answer.
    ScriptedUnit full(nullptr, 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(uint16_t(full.port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers.push_back(fd);
    }
    ModbusTcpClient client;
    try {
        client.exchange(kLoopback, full.port, kReadDirection, 100);
        ADD_FAILURE() << "connected to a full queue";
    } catch (const ModbusTcpClient::Failure& e) {
        EXPECT_STREQ(e.what(), "no answer within the time-out");
        EXPECT_TRUE(e.connecting());
    }
    for (int fd : fillers)
        ::close(fd);
}

TEST(ModbusTcpClientConnection, ReAimedAtAnotherUnitItClosesTheOldConnection)
{
    ScriptedUnit a([](const std::string& req, int) { return dirReply(req); });
    ScriptedUnit b([](const std::string& req, int) { return dirReply(req); });
    ModbusTcpClient client;
    client.exchange(kLoopback, a.port, kReadDirection, 1000);
    client.exchange(kLoopback, a.port, kReadDirection, 1000);
    EXPECT_EQ(a.connections(), 1) << "the same unit reuses its connection";
    client.exchange(kLoopback, b.port, kReadDirection, 1000);
    EXPECT_TRUE(client.isConnectedTo(kLoopback, b.port));
    EXPECT_TRUE(eventually([&] { return a.open() == 0; })) << "the first unit's connection is still open";
    client.exchange(kLoopback, a.port, kReadDirection, 1000);
    EXPECT_EQ(a.connections(), 2);
    EXPECT_EQ(client.connectCount(), 3);

    for (const auto& [ip, port] : std::vector<std::pair<std::string, int>>{
             {"", a.port}, {"unit7", a.port}, {"127.0.0.1.5", a.port}, {kLoopback, 0}, {kLoopback, 70000}})
        EXPECT_THROW(client.exchange(ip, port, kReadDirection, 1000), ModbusTcpClient::BadAddress) << ip << port;
    EXPECT_EQ(client.connectCount(), 3);
}

TEST(ModbusTcpClientConnection, RaisingTheCancelFlagEndsAWaitAtOnce)
{
    // The kernel accepts for this unit, which never reads: without the flag the exchange would
    // wait its whole minute.
    ScriptedUnit silent(nullptr);
    std::atomic<bool> cancel{false};
    ModbusTcpClient client;
    client.watchCancel(&cancel);
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const auto t0 = Steady::now();
    EXPECT_THROW(client.exchange(kLoopback, silent.port, kReadDirection, 60000), ModbusTcpClient::Failure);
    raiser.join();
    EXPECT_LT(secondsSince(t0), 10.0);
    EXPECT_FALSE(client.isConnected());
}

TEST(ModbusTcpClientClock, TimeOutAndStaleConnectionsFollowTheClientsClock)
{
    // One byte of a reply and never the rest. With a minute of time-out and a clock that
    // moves a second a look, the exchange ends at once.
    ScriptedUnit mute([](const std::string& req, int) { return req.substr(0, 1); });
    SteppingClock clock;
    clock.step = std::chrono::milliseconds(1000);
    ModbusTcpClient slow(clock);
    const auto t0 = Steady::now();
    EXPECT_THROW(slow.exchange(kLoopback, mute.port, kReadDirection, 60000), ModbusTcpClient::Failure);
    EXPECT_LT(secondsSince(t0), 1.0);

    ScriptedUnit good([](const std::string& req, int) { return dirReply(req); });
    SteppingClock still;
    ModbusTcpClient client(still);
    client.exchange(kLoopback, good.port, kReadDirection, 1000);
    client.exchange(kLoopback, good.port, kReadDirection, 1000);
    EXPECT_EQ(client.connectCount(), 1);
    still.advance(std::chrono::milliseconds(ModbusTcpClient::kStaleMs + 1));
    client.exchange(kLoopback, good.port, kReadDirection, 1000);
    EXPECT_EQ(client.connectCount(), 2) << "a connection idle past the limit is not reused";
}

} // namespace
