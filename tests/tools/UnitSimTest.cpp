// The simulator seen from outside: its control lines, and a standard Modbus TCP client.
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

class Client {
public:
    Client(const UnitSimProcess& sim, int unit)
        : ctx_(modbus_new_tcp(sim.ip(unit).c_str(), sim.port()))
    {
        modbus_set_slave(ctx_, 1);
        modbus_set_response_timeout(ctx_, 1, 0);
        connected_ = modbus_connect(ctx_) == 0;
    }
    ~Client()
    {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool connected() const { return connected_; }
    modbus_t* operator*() { return ctx_; }

private:
    modbus_t* ctx_;
    bool connected_ = false;
};

int rawConnect(const UnitSimProcess& sim, int unit)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(sim.port()));
    inet_pton(AF_INET, sim.ip(unit).c_str(), &sa.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads what arrives within ms milliseconds, up to want bytes.
std::string rawRead(int fd, size_t want, int ms)
{
    std::string got;
    while (got.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            break;
        char buf[256];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s.push_back(static_cast<char>(v));
    return s;
}

class UnitSimTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sim_ = new UnitSimProcess(3); }
    static void TearDownTestSuite()
    {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(sim_->running()) << sim_->error();
        for (int u = 0; u < 3; ++u)
            ASSERT_TRUE(sim_->ok("fault " + std::to_string(u) + " up"));
    }
    UnitSimProcess& sim() { return *sim_; }
    static UnitSimProcess* sim_;
};

UnitSimProcess* UnitSimTest::sim_ = nullptr;

TEST_F(UnitSimTest, ControlLinesAreCheckedOneByOne)
{
    for (const char* good : {"ain 0 0 0", "ain 2 5 65535", "ain 1 3 -1", "din 1 7 1", "din 0 0 0",
                             "fault 2 slow 0", "fault 2 mute", "fault 2 exception", "fault 2 down",
                             "fault 2 up", "  ain 0 1 5  "})
        EXPECT_EQ(sim().send(good), "ok") << good;
    for (const char* bad : {"", "ain", "ain 3 0 1", "ain -1 0 1", "ain 0 4 1", "ain 0 6 1",
                            "ain 0 0 65536", "ain 0 0 x", "ain 0 0", "din 0 8 1", "din 0 0 2",
                            "din 0 0", "fault 0", "fault 0 sideways", "fault 0 slow", "fault 0 slow -3",
                            "fault 0 up now", "quit now", "jump 0 1 2"})
        EXPECT_EQ(sim().send(bad).rfind("error: ", 0), 0u) << '"' << bad << '"';
}

TEST_F(UnitSimTest, StandardClientReadsTheMap)
{
    ASSERT_TRUE(sim().ok("ain 1 0 11"));
    ASSERT_TRUE(sim().ok("ain 1 3 33"));
    ASSERT_TRUE(sim().ok("ain 1 5 45"));
    ASSERT_TRUE(sim().ok("din 1 0 1"));
    ASSERT_TRUE(sim().ok("din 1 1 0"));
    Client c(sim(), 1);
    ASSERT_TRUE(c.connected());

    uint16_t in[6] = {};
    ASSERT_EQ(modbus_read_input_registers(*c, 0, 6, in), 6);
    EXPECT_EQ(in[0], 11);
    EXPECT_EQ(in[3], 33);
    EXPECT_EQ(in[5], 45);

    uint16_t dir[16] = {};
    ASSERT_EQ(modbus_read_registers(*c, 0, 16, dir), 16);
    for (int p : {0, 1, 2, 3, 5})
        EXPECT_EQ(dir[p], 2) << "port A starts as analogue inputs";
    for (int p = 8; p < 16; ++p)
        EXPECT_EQ(dir[p], 1) << "port B starts as inputs";

    // Port A set to input reads back 2; port B output mirrors its coil.
    ASSERT_EQ(modbus_write_register(*c, 1, 1), 1);
    ASSERT_EQ(modbus_read_registers(*c, 1, 1, dir), 1);
    EXPECT_EQ(dir[0], 2);
    ASSERT_EQ(modbus_write_register(*c, 8 + 1, 0), 1);
    ASSERT_EQ(modbus_write_bit(*c, 1, 1), 1);
    ASSERT_EQ(modbus_write_bit(*c, 0, 0), 1);
    uint8_t bits[8] = {};
    ASSERT_EQ(modbus_read_input_bits(*c, 0, 8, bits), 8);
    EXPECT_EQ(bits[0], 1) << "input pin shows the applied level, not its coil";
    EXPECT_EQ(bits[1], 1) << "output pin shows its coil";
    ASSERT_EQ(modbus_write_bit(*c, 1, 0), 1);
    ASSERT_EQ(modbus_read_input_bits(*c, 1, 1, bits), 1);
    EXPECT_EQ(bits[0], 0);
    ASSERT_EQ(modbus_write_register(*c, 8 + 1, 1), 1);
}

TEST_F(UnitSimTest, StandardClientGetsExceptionsOutsideTheMap)
{
    Client c(sim(), 0);
    ASSERT_TRUE(c.connected());
    uint16_t regs[8];
    uint8_t bits[8];
    EXPECT_EQ(modbus_read_input_registers(*c, 6, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_input_registers(*c, 4, 3, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_input_bits(*c, 8, 1, bits), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_registers(*c, 16, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_bit(*c, 8, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(*c, 9, 2), -1);
    EXPECT_EQ(errno, EMBXILVAL);
    const uint16_t two[2] = {1, 1};
    EXPECT_EQ(modbus_write_registers(*c, 8, 2, two), -1);
    EXPECT_EQ(errno, EMBXILFUN);
    // The connection is still in step after exceptions.
    EXPECT_EQ(modbus_read_registers(*c, 8, 1, regs), 1);
}

TEST_F(UnitSimTest, UnitsAreSeparateAndServeSeveralClients)
{
    ASSERT_TRUE(sim().ok("ain 0 2 1000"));
    ASSERT_TRUE(sim().ok("ain 2 2 2000"));
    Client a(sim(), 0), b(sim(), 0), c(sim(), 2);
    ASSERT_TRUE(a.connected() && b.connected() && c.connected());
    uint16_t v = 0;
    ASSERT_EQ(modbus_read_input_registers(*a, 2, 1, &v), 1);
    EXPECT_EQ(v, 1000);
    ASSERT_EQ(modbus_read_input_registers(*b, 2, 1, &v), 1);
    EXPECT_EQ(v, 1000);
    ASSERT_EQ(modbus_read_input_registers(*c, 2, 1, &v), 1);
    EXPECT_EQ(v, 2000);
}

TEST_F(UnitSimTest, FramesSplitOrJoinedAreAnsweredInOrder)
{
    ASSERT_TRUE(sim().ok("ain 0 0 258"));
    ASSERT_TRUE(sim().ok("ain 0 1 3"));
    const int fd = rawConnect(sim(), 0);
    ASSERT_NE(fd, -1);
    // Read input register 0, transaction 0x1234, unit id 1, sent a byte at a time.
    const std::string req = bytes({0x12, 0x34, 0, 0, 0, 6, 1, 4, 0, 0, 0, 1});
    for (char ch : req) {
        ASSERT_EQ(send(fd, &ch, 1, 0), 1);
        usleep(2000);
    }
    EXPECT_EQ(rawRead(fd, 11, 1000), bytes({0x12, 0x34, 0, 0, 0, 5, 1, 4, 2, 1, 2}));

    // Two requests in one segment.
    const std::string two = bytes({0, 1, 0, 0, 0, 6, 1, 4, 0, 1, 0, 1, 0, 2, 0, 0, 0, 6, 1, 0x2B, 0, 0, 0, 1});
    ASSERT_EQ(send(fd, two.data(), two.size(), 0), static_cast<ssize_t>(two.size()));
    EXPECT_EQ(rawRead(fd, 20, 1000),
              bytes({0, 1, 0, 0, 0, 5, 1, 4, 2, 0, 3, 0, 2, 0, 0, 0, 3, 1, 0xAB, 1}));
    close(fd);
}

TEST_F(UnitSimTest, FaultsAsAClientSeesThem)
{
    ASSERT_TRUE(sim().ok("fault 1 mute"));
    {
        const int fd = rawConnect(sim(), 1);
        ASSERT_NE(fd, -1) << "a mute unit still accepts";
        const std::string req = bytes({0, 9, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
        send(fd, req.data(), req.size(), 0);
        EXPECT_EQ(rawRead(fd, 1, 400), "");
        close(fd);
    }
    ASSERT_TRUE(sim().ok("fault 1 exception"));
    {
        Client c(sim(), 1);
        uint16_t v;
        EXPECT_EQ(modbus_read_registers(*c, 0, 1, &v), -1);
        EXPECT_EQ(errno, EMBXSFAIL);
    }
    ASSERT_TRUE(sim().ok("fault 1 down"));
    EXPECT_EQ(rawConnect(sim(), 1), -1);
    ASSERT_TRUE(sim().ok("fault 1 up"));
    {
        Client c(sim(), 1);
        uint16_t v;
        EXPECT_EQ(modbus_read_registers(*c, 0, 1, &v), 1);
    }
}

TEST_F(UnitSimTest, AnaloguesDriftSlowlyNearTheirLevel)
{
    Client c(sim(), 2);
    ASSERT_TRUE(c.connected());
    uint16_t first[6], later[6];
    ASSERT_EQ(modbus_read_input_registers(*c, 0, 6, first), 6);
    usleep(1100 * 1000);
    ASSERT_EQ(modbus_read_input_registers(*c, 0, 6, later), 6);
    for (int ch : {0, 1, 5})
        EXPECT_LE(std::abs(first[ch] - later[ch]), 2) << "channel " << ch;
}

TEST(UnitSimLifetime, KeepsServingAfterInputClosesAndStopsOnSignal)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    sim.closeInput();
    usleep(100 * 1000);
    {
        Client c(sim, 0);
        ASSERT_TRUE(c.connected());
        uint16_t v;
        EXPECT_EQ(modbus_read_registers(*c, 0, 1, &v), 1);
    }
    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_EQ(rawConnect(sim, 0), -1);
}

TEST(UnitSimLifetime, HundredUnitsOnOnePort)
{
    UnitSimProcess sim(100, "127.0.1.1");
    ASSERT_TRUE(sim.running()) << sim.error();
    EXPECT_EQ(sim.ip(99), "127.0.1.100");
    ASSERT_TRUE(sim.ok("ain 99 0 4321"));
    Client c(sim, 99);
    ASSERT_TRUE(c.connected());
    uint16_t v = 0;
    ASSERT_EQ(modbus_read_input_registers(*c, 0, 1, &v), 1);
    EXPECT_EQ(v, 4321);
    EXPECT_EQ(sim.send("quit"), "ok");
}

} // namespace
