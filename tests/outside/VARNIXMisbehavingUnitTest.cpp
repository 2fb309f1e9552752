// The device link against units that break the rules: scripted servers on loopback and the
// simulator's trickle fault. Each exchange must end within its time-out and never pass a
// reply that does not answer the request.

#include "VARNIX.h"
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

void aim(VARNIX& link, int port, int32_t timeOut = 1, const char* ip = "127.0.0.1")
{
    link.setIP(ip);
    link.setLcdPort(0);
    link.setParallelPort(int16_t(port));
    link.setSerialPort(0);
    link.setBaudRate("9600");
    link.setTimeOut(timeOut);
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

TEST(VARNIXMisbehavingUnit, TricklingReplyEndsWithinTheTimeOut)
{
    UnitSimProcess sim(1, "127.0.0.51");
    ASSERT_TRUE(sim.running()) << sim.error();
    // Every byte comes well within the gap allowed between bytes; the whole reply would take 6 s.
    ASSERT_TRUE(sim.ok("fault 0 trickle 300"));
    VARNIX link;
    aim(link, sim.port(), 2, "127.0.0.51");
    const auto t0 = Steady::now();
    EXPECT_THROW(link.GetAnalog(5, 0), DeviceLinkError);
    EXPECT_LT(secondsSince(t0), 2.5);
    EXPECT_GE(secondsSince(t0), 1.9);
    ASSERT_TRUE(sim.ok("fault 0 up"));
    EXPECT_NO_THROW(link.GetAnalog(5, 0));
}

TEST(VARNIXMisbehavingUnit, UnitThatClosesAfterEachReplyIsAskedAgainOnAFreshConnection)
{
    // One answer per connection; the next request on it is met by a close, no reply byte.
    ScriptedUnit unit([](const std::string& req, int nth) { return nth == 0 ? dirReply(req) : std::string(); });
    ASSERT_NE(unit.port, 0);
    VARNIX link;
    aim(link, unit.port);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(link.GetDirp(6, 0), 1) << "exchange " << i;
    EXPECT_EQ(unit.connections(), 5);

    // A fresh connection that fails is a failure: no second try.
    ScriptedUnit closer([](const std::string&, int) { return std::string(); });
    VARNIX other;
    aim(other, closer.port);
    EXPECT_THROW(other.GetDirp(6, 0), DeviceLinkError);
    EXPECT_EQ(closer.connections(), 1);
}

TEST(VARNIXMisbehavingUnit, RepliesThatBreakTheProtocolAreFailures)
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
    for (const Case& c : cases) {
        ScriptedUnit unit([&c](const std::string& req, int) { return c.reply(req); });
        VARNIX link;
        aim(link, unit.port);
        EXPECT_THROW(link.GetDirp(6, 0), DeviceLinkError) << c.what;
    }
    ScriptedUnit good([](const std::string& req, int) { return dirReply(req); });
    VARNIX link;
    aim(link, good.port);
    EXPECT_EQ(link.GetDirp(6, 0), 1);
}

TEST(VARNIXMisbehavingUnit, ConnectTimeOutSaysSo)
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
    VARNIX link;
    aim(link, full.port, 0);
    try {
        link.GetDirp(6, 0);
        ADD_FAILURE() << "connected to a full queue";
    } catch (const DeviceLinkError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("connect: no answer within the time-out"), std::string::npos) << what;
    }
    for (int fd : fillers)
        ::close(fd);
}

TEST(VARNIXClock, TimeOutAndIdleCloseFollowTheLinksClock)
{
    // One byte of a reply and never the rest. With a minute of time-out and a clock that
    // moves a second a look, the exchange ends at once.
    ScriptedUnit mute([](const std::string& req, int) { return req.substr(0, 1); });
    SteppingClock clock;
    clock.step = std::chrono::milliseconds(1000);
    VARNIX slow(clock);
    aim(slow, mute.port, 60);
    const auto t0 = Steady::now();
    EXPECT_THROW(slow.GetDirp(6, 0), DeviceLinkError);
    EXPECT_LT(secondsSince(t0), 1.0);

    ScriptedUnit good([](const std::string& req, int) { return dirReply(req); });
    SteppingClock still;
    VARNIX link(still);
    aim(link, good.port);
    link.GetDirp(6, 0);
    link.GetDirp(6, 0);
    EXPECT_EQ(link.connectCount(), 1);
    still.advance(std::chrono::milliseconds(VARNIX::kIdleCloseMs + 1));
    link.GetDirp(6, 0);
    EXPECT_EQ(link.connectCount(), 2) << "a connection idle past the limit is not reused";
}

} // namespace
