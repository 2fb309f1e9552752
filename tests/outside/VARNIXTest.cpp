#include "outside/VARNIX.h"
#include "ScriptedUnit.h"
#include "SimulatorSuite.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void aim(VARNIX& link, const UnitSimProcess& sim, int unit, int32_t timeOut = 2)
{
    link.setIP(QString::fromStdString(sim.ip(unit)));
    link.setLcdPort(0);
    link.setParallelPort(sim.port());
    link.setSerialPort(0);
    link.setBaudRate("9600");
    link.setTimeOut(timeOut);
}

void aimAt(VARNIX& link, int port)
{
    link.setIP("127.0.0.1");
    link.setLcdPort(0);
    link.setParallelPort(int16_t(port));
    link.setSerialPort(0);
    link.setBaudRate("9600");
    link.setTimeOut(1);
}

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s.push_back(static_cast<char>(v));
    return s;
}

// Real time run faster and moved on by hand: now() is the real time since construction times
// rate, plus whatever the test added (rate 0: a clock that moves only when the test says so).
class TestClock : public MonotonicClock {
public:
    explicit TestClock(int rate = 1) : m_rate(rate) {}
    time_point now() const override
    {
        return m_start + (std::chrono::steady_clock::now() - m_start) * m_rate + m_added;
    }
    void advance(std::chrono::milliseconds d) { m_added += d; }

private:
    int m_rate;
    time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration m_added{0};
};

// Waits twenty times shorter than the station's: TimeOut 1 lasts 50 ms, TimeOut 0 20 ms.
VARNIX::Timings quick()
{
    VARNIX::Timings t;
    t.timeOutUnitMs = 50;
    t.zeroTimeOutMs = 20;
    return t;
}

std::string failureText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const DeviceLinkError& e) {
        return e.what();
    }
    return "no failure";
}

struct TwoUnits {
    static constexpr int Count = 2;
    static constexpr const char* First = "127.0.0.11";
};

class VARNIXTest : public SimulatorSuite<TwoUnits> {};

TEST_F(VARNIXTest, ReadsAnalogueChannelsAndTemperature)
{
    ASSERT_TRUE(sim().ok("ain 0 0 0"));
    ASSERT_TRUE(sim().ok("ain 0 1 1023"));
    ASSERT_TRUE(sim().ok("ain 0 2 300"));
    ASSERT_TRUE(sim().ok("ain 0 3 40000")); // beyond int16: the raw register, reinterpreted
    ASSERT_TRUE(sim().ok("ain 0 5 51"));
    VARNIX link;
    aim(link, sim(), 0);
    EXPECT_EQ(link.GetAnalog(5, 0), 0);
    EXPECT_EQ(link.GetAnalog(5, 1), 1023);
    EXPECT_EQ(link.GetAnalog(5, 2), 300);
    EXPECT_EQ(link.GetAnalog(5, 3), static_cast<int16_t>(40000));
    EXPECT_EQ(link.GetAnalog(5, 5), 51);
}

TEST_F(VARNIXTest, UntouchedTemperatureIsRoomTemperature)
{
    VARNIX link;
    aim(link, sim(), 1);
    const double degrees = link.GetAnalog(5, 5) / 2.024;
    EXPECT_GE(degrees, 15.0);
    EXPECT_LE(degrees, 30.0);
}

TEST_F(VARNIXTest, DirectionsRoundTripAndPortAInputReadsTwo)
{
    VARNIX link;
    aim(link, sim(), 0);
    for (int16_t p : {0, 1, 2, 3, 5}) {
        link.SetDirp(5, p, 1);
        EXPECT_EQ(link.GetDirp(5, p), 2) << "port A pin " << p;
    }
    link.SetDirp(5, 2, 0);
    EXPECT_EQ(link.GetDirp(5, 2), 0);
    link.SetDirp(5, 2, 1);
    for (int16_t p = 0; p < 8; ++p) {
        const int d = p % 2;
        link.SetDirp(6, p, d);
        EXPECT_EQ(link.GetDirp(6, p), d) << "port B pin " << p;
    }
    for (int16_t p = 0; p < 8; ++p)
        link.SetDirp(6, p, 1);
}

TEST_F(VARNIXTest, OutputPinsShowTheirCoilAndInputPinsTheirLevel)
{
    VARNIX link;
    aim(link, sim(), 0);
    link.SetDirp(6, 3, 0);
    link.SetDirp(6, 4, 1);
    ASSERT_TRUE(sim().ok("din 0 4 1"));
    ASSERT_TRUE(sim().ok("din 0 3 1")); // ignored while pin 3 is an output

    link.SetPin(6, 3, 1);
    EXPECT_EQ(link.GetPin(6, 3), 1);
    link.SetPin(6, 3, 0);
    EXPECT_EQ(link.GetPin(6, 3), 0); // the write drops the earlier copy of the port
    link.SetPin(6, 4, 0);            // a coil behind an input pin does not change its level
    EXPECT_EQ(link.GetPin(6, 4), 1);
    link.SetPin(6, 3, 7); // any non-zero level is high
    EXPECT_EQ(link.GetPin(6, 3), 1);
    link.SetDirp(6, 3, 1);
    EXPECT_EQ(link.GetPin(6, 3), 1); // input again: the applied level
    link.SetPin(6, 3, 0);
    link.SetDirp(6, 3, 1);
}

TEST_F(VARNIXTest, PortAOutputsAreCoilsFromSixteen)
{
    VARNIX link;
    aim(link, sim(), 1);
    link.SetPin(5, 2, 1);
    link.SetPin(5, 5, 1);

    ModbusClient client(sim(), 1);
    ASSERT_TRUE(client.connected());
    modbus_t* ctx = *client;
    uint8_t coils[6] = {};
    ASSERT_EQ(modbus_read_bits(ctx, 16, 6, coils), 6);
    EXPECT_EQ(coils[0], 0);
    EXPECT_EQ(coils[2], 1);
    EXPECT_EQ(coils[5], 1);
    link.SetPin(5, 2, 0);
    link.SetPin(5, 5, 0);
}

TEST(VARNIXArguments, BadPortsPinsAndAddressesRaise)
{
    VARNIX link;
    link.setIP("127.0.0.1");
    link.setParallelPort(1);
    link.setTimeOut(1);
    EXPECT_THROW(link.GetAnalog(5, 4), DeviceLinkError);
    EXPECT_THROW(link.GetAnalog(5, 6), DeviceLinkError);
    EXPECT_THROW(link.GetAnalog(6, 0), DeviceLinkError);
    EXPECT_THROW(link.GetPin(5, 0), DeviceLinkError);
    EXPECT_THROW(link.GetPin(6, 8), DeviceLinkError);
    EXPECT_THROW(link.GetPin(6, -1), DeviceLinkError);
    EXPECT_THROW(link.SetPin(4, 0, 1), DeviceLinkError);
    EXPECT_THROW(link.SetPin(5, 6, 1), DeviceLinkError);
    EXPECT_THROW(link.GetDirp(5, 6), DeviceLinkError);
    EXPECT_THROW(link.GetDirp(6, 8), DeviceLinkError);
    EXPECT_THROW(link.SetDirp(7, 0, 1), DeviceLinkError);
    EXPECT_THROW(link.SetDirp(6, 0, 2), DeviceLinkError);
    EXPECT_THROW(link.SetDirp(6, 0, -1), DeviceLinkError);
    EXPECT_FALSE(link.isConnected());

    for (const char* ip : {"", "unit7", "300.1.1.1", "127.0.0.1.5"}) {
        link.setIP(ip);
        EXPECT_THROW(link.GetPin(6, 0), DeviceLinkError) << ip;
    }
    link.setIP("127.0.0.1");
    for (int16_t port : {0, -5}) {
        link.setParallelPort(port);
        EXPECT_THROW(link.GetPin(6, 0), DeviceLinkError) << port;
    }
}

TEST(VARNIXProperties, KeepWhatWasWritten)
{
    VARNIX link;
    link.setIP("192.168.1.20");
    link.setLcdPort(3);
    link.setParallelPort(502);
    link.setSerialPort(4);
    link.setBaudRate("19200");
    link.setTimeOut(7);
    EXPECT_EQ(link.IP(), "192.168.1.20");
    EXPECT_EQ(link.LcdPort(), 3);
    EXPECT_EQ(link.ParallelPort(), 502);
    EXPECT_EQ(link.SerialPort(), 4);
    EXPECT_EQ(link.BaudRate(), "19200");
    EXPECT_EQ(link.TimeOut(), 7);
}

TEST_F(VARNIXTest, DownUnitRaisesQuicklyAndRecovers)
{
    VARNIX link;
    aim(link, sim(), 0);
    EXPECT_NO_THROW(link.GetDirp(5, 5));
    ASSERT_TRUE(sim().ok("fault 0 down"));
    const auto t0 = Clock::now();
    EXPECT_THROW(link.GetDirp(5, 5), DeviceLinkError); // the open connection was closed by the unit
    EXPECT_THROW(link.GetDirp(5, 5), DeviceLinkError); // and a new one is refused
    EXPECT_LT(secondsSince(t0), 1.0);
    EXPECT_FALSE(link.isConnected());
    ASSERT_TRUE(sim().ok("fault 0 up"));
    EXPECT_EQ(link.GetDirp(5, 5), 2);
}

TEST_F(VARNIXTest, MuteUnitRaisesWithinTimeOut)
{
    // The station's own waits, on a clock that runs 25 times faster. The link looks at the clock
    // every 50 ms of real time while it watches a cancel flag, so it sees the time pass.
    ASSERT_TRUE(sim().ok("fault 1 mute"));
    TestClock clock(25);
    std::atomic<bool> never{false};
    VARNIX link(clock);
    link.watchCancel(&never);
    const auto realStart = Clock::now();
    const auto linkTime = [&](const std::function<void()>& call) {
        const auto t0 = clock.now();
        EXPECT_THROW(call(), DeviceLinkError);
        return std::chrono::duration<double>(clock.now() - t0).count();
    };
    // The bounds are in the link's time; 4 s of it are 160 ms of real time for a busy machine.
    aim(link, sim(), 1, 1);
    double took = linkTime([&] { link.GetAnalog(5, 0); });
    EXPECT_GE(took, 1.0);
    EXPECT_LT(took, 1.0 + 4.0);

    // TimeOut 0 is the probe's short wait.
    aim(link, sim(), 1, 0);
    took = linkTime([&] { link.GetDirp(5, 5); });
    EXPECT_GE(took, VARNIX::kZeroTimeOutMs / 1000.0);
    EXPECT_LT(took, VARNIX::kZeroTimeOutMs / 1000.0 + 4.0);
    EXPECT_LT(secondsSince(realStart), 1.0) << "the link waited by the real clock, not its own";

    // Shorter timings shorten the waits in real time too.
    VARNIX fast(SteadyClock::instance(), quick());
    aim(fast, sim(), 1, 2);
    auto t0 = Clock::now();
    EXPECT_THROW(fast.GetAnalog(5, 0), DeviceLinkError);
    took = secondsSince(t0);
    EXPECT_GE(took, 0.1);
    EXPECT_LT(took, 0.1 + 0.5);
    aim(fast, sim(), 1, 0);
    t0 = Clock::now();
    EXPECT_THROW(fast.GetDirp(5, 5), DeviceLinkError);
    took = secondsSince(t0);
    EXPECT_GE(took, 0.02);
    EXPECT_LT(took, 0.02 + 0.5);
}

TEST_F(VARNIXTest, ExceptionRepliesRaise)
{
    ASSERT_TRUE(sim().ok("fault 0 exception"));
    VARNIX link;
    aim(link, sim(), 0);
    EXPECT_THROW(link.GetAnalog(5, 1), DeviceLinkError);
    EXPECT_THROW(link.GetPin(6, 1), DeviceLinkError);
    EXPECT_THROW(link.GetDirp(6, 1), DeviceLinkError);
    EXPECT_THROW(link.SetDirp(6, 1, 1), DeviceLinkError);
    EXPECT_THROW(link.SetPin(6, 1, 0), DeviceLinkError);
    ASSERT_TRUE(sim().ok("fault 0 up"));
    EXPECT_EQ(link.GetDirp(6, 1), 1);
}

// A reply that comes after its time-out must not answer the next request.
TEST_F(VARNIXTest, LateReplyIsNotTakenForALaterAnswer)
{
    ASSERT_TRUE(sim().ok("ain 0 0 111"));
    ASSERT_TRUE(sim().ok("ain 0 1 222"));
    // Each reply comes 50 ms after the link has given up on it.
    ASSERT_TRUE(sim().ok("fault 0 slow 100"));
    VARNIX link(SteadyClock::instance(), quick());
    aim(link, sim(), 0, 1);
    EXPECT_THROW(link.GetAnalog(5, 0), DeviceLinkError);
    EXPECT_THROW(link.GetDirp(6, 2), DeviceLinkError);

    ASSERT_TRUE(sim().ok("ain 0 0 333"));
    ASSERT_TRUE(sim().ok("ain 0 1 444"));
    ASSERT_TRUE(sim().ok("fault 0 up"));
    // Let the late replies arrive where a kept connection would find them.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    aim(link, sim(), 0, 40);
    EXPECT_EQ(link.GetAnalog(5, 0), 333);
    EXPECT_EQ(link.GetAnalog(5, 1), 444);
    EXPECT_EQ(link.GetDirp(6, 2), 1);
}

TEST_F(VARNIXTest, SlowUnitWithinTimeOutAnswers)
{
    ASSERT_TRUE(sim().ok("ain 1 2 77"));
    ASSERT_TRUE(sim().ok("fault 1 slow 100"));
    VARNIX link(SteadyClock::instance(), quick());
    aim(link, sim(), 1, 6); // 300 ms
    EXPECT_EQ(link.GetAnalog(5, 2), 77);
}

TEST_F(VARNIXTest, KeepsItsConnectionWhileAimedAtOneUnitAndReconnectsWhenReAimed)
{
    ASSERT_TRUE(sim().ok("ain 0 0 10"));
    ASSERT_TRUE(sim().ok("ain 1 0 20"));
    VARNIX link;
    for (int poll = 0; poll < 3; ++poll) {
        aim(link, sim(), 0);
        EXPECT_EQ(link.GetAnalog(5, 0), 10);
        link.GetPin(6, 0);
    }
    EXPECT_EQ(link.connectCount(), 1);

    // No connections are parked: each re-aim closes the old one and opens the new.
    aim(link, sim(), 1);
    EXPECT_EQ(link.GetAnalog(5, 0), 20);
    aim(link, sim(), 0);
    EXPECT_EQ(link.GetAnalog(5, 0), 10);
    EXPECT_EQ(link.connectCount(), 3);

    // an exception reply closes the connection too
    ASSERT_TRUE(sim().ok("fault 0 exception"));
    aim(link, sim(), 0);
    EXPECT_THROW(link.GetAnalog(5, 0), DeviceLinkError);
    EXPECT_FALSE(link.isConnected());
    ASSERT_TRUE(sim().ok("fault 0 up"));
    aim(link, sim(), 0);
    EXPECT_EQ(link.GetAnalog(5, 0), 10);
    EXPECT_EQ(link.connectCount(), 4);

    // a unit that restarted closed the kept connection: the next poll reconnects at once
    ASSERT_TRUE(sim().ok("fault 0 down"));
    ASSERT_TRUE(sim().ok("fault 0 up"));
    aim(link, sim(), 0);
    EXPECT_EQ(link.GetAnalog(5, 0), 10);
    EXPECT_EQ(link.connectCount(), 5);
}

TEST_F(VARNIXTest, NoReadingOutlivesItsPoll)
{
    ASSERT_TRUE(sim().ok("ain 1 3 500"));
    ASSERT_TRUE(sim().ok("din 1 6 0"));
    TestClock clock;
    VARNIX link(clock);
    aim(link, sim(), 1);
    EXPECT_EQ(link.GetAnalog(5, 3), 500);
    EXPECT_EQ(link.GetPin(6, 6), 0);
    ASSERT_TRUE(sim().ok("ain 1 3 501"));
    ASSERT_TRUE(sim().ok("din 1 6 1"));

    // The next poll writes the properties first.
    aim(link, sim(), 1);
    EXPECT_EQ(link.GetAnalog(5, 3), 501);
    EXPECT_EQ(link.GetPin(6, 6), 1);

    // A caller that does not write them still gets fresh values once the copy has aged.
    ASSERT_TRUE(sim().ok("ain 1 3 502"));
    ASSERT_TRUE(sim().ok("din 1 6 0"));
    clock.advance(std::chrono::milliseconds(VARNIX::kSnapshotAgeMs));
    EXPECT_EQ(link.GetAnalog(5, 3), 502);
    EXPECT_EQ(link.GetPin(6, 6), 0);
}

TEST_F(VARNIXTest, TwoLinksOnOneUnitAtOnce)
{
    ASSERT_TRUE(sim().ok("ain 0 2 901"));
    VARNIX a, b;
    aim(a, sim(), 0);
    aim(b, sim(), 0);
    EXPECT_EQ(a.GetAnalog(5, 2), 901);
    EXPECT_EQ(b.GetAnalog(5, 2), 901);
    EXPECT_TRUE(a.isConnected());
    EXPECT_TRUE(b.isConnected());
}

// A unit without register 4 refuses the whole-port read: it is read register by register for as
// long as its connection lasts, and asked for the block again on the next connection.
TEST(VARNIXScriptedUnit, PortABlockRefusedIsReadRegisterByRegisterOnThatConnection)
{
    std::atomic<int> blockReads{0}, singleReads{0};
    ScriptedUnit unit([&](const std::string& req, int) {
        if (req[7] == 4 && req[11] == 6) {
            ++blockReads;
            return req.substr(0, 2) + bytes({0, 0, 0, 3, 1, 0x84, 2});
        }
        if (req[7] == 4) {
            ++singleReads;
            return req.substr(0, 2) + bytes({0, 0, 0, 5, 1, 4, 2, 0, 100 + req[9]});
        }
        return std::string(); // anything else: closed unanswered
    });
    TestClock clock(0);
    VARNIX link(clock);
    aimAt(link, unit.port);
    EXPECT_EQ(link.GetAnalog(5, 2), 102);
    aimAt(link, unit.port);
    EXPECT_EQ(link.GetAnalog(5, 3), 103);
    EXPECT_EQ(blockReads, 1);
    EXPECT_EQ(singleReads, 2);

    // The connection is replaced inside the next read (too old to trust); the poll after asks
    // the new connection for the whole port again.
    clock.advance(std::chrono::milliseconds(ModbusTcpClient::kStaleMs + 1));
    aimAt(link, unit.port);
    EXPECT_EQ(link.GetAnalog(5, 1), 101);
    EXPECT_EQ(link.connectCount(), 2);
    aimAt(link, unit.port);
    EXPECT_EQ(link.GetAnalog(5, 0), 100);
    EXPECT_EQ(blockReads, 2) << "a new connection did not ask for the whole port";

    // So does the connection after a failure.
    EXPECT_THROW(link.GetPin(6, 0), DeviceLinkError);
    aimAt(link, unit.port);
    EXPECT_EQ(link.GetAnalog(5, 1), 101);
    EXPECT_EQ(blockReads, 3);
}

TEST(VARNIXScriptedUnit, FailuresNameTheUnitTheOperationAndTheCause)
{
    std::atomic<int> code{4};
    ScriptedUnit unit([&](const std::string& req, int) {
        return req.substr(0, 2) + bytes({0, 0, 0, 3, 1, req[7] | 0x80, code});
    });
    VARNIX link;
    aimAt(link, unit.port);
    const std::string at = "127.0.0.1:" + std::to_string(unit.port) + ": ";
    EXPECT_EQ(failureText([&] { link.GetDirp(6, 0); }),
              at + "read direction: unit answered exception 4 (Slave device or server failure)");
    // Every code reads as the station has always named it.
    for (int c = 0; c < 256; ++c) {
        code = c;
        EXPECT_EQ(failureText([&] { link.SetPin(6, 1, 1); }), at + "write output: unit answered exception " +
                                                                  std::to_string(c) + " (" +
                                                                  modbus_strerror(MODBUS_ENOBASE + c) + ")");
    }

    ScriptedUnit stranger([](const std::string& req, int) {
        return req.substr(0, 2) + bytes({0, 0, 0, 5, 9, 3, 2, 0, 1});
    });
    aimAt(link, stranger.port);
    EXPECT_EQ(failureText([&] { link.GetDirp(6, 0); }),
              "127.0.0.1:" + std::to_string(stranger.port) + ": read direction: reply from unit id 9");

    const int refusedPort = [] {
        ScriptedUnit gone(nullptr);
        return gone.port;
    }();
    aimAt(link, refusedPort);
    EXPECT_EQ(failureText([&] { link.GetPin(6, 0); }),
              "127.0.0.1:" + std::to_string(refusedPort) + ": connect: Connection refused");

    link.setIP(" unit7");
    EXPECT_EQ(failureText([&] { link.GetPin(6, 0); }),
              " unit7:" + std::to_string(refusedPort) + ": not a dotted IPv4 address");
}

} // namespace
