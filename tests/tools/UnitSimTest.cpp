// The simulator seen from outside: its control lines, and a standard Modbus TCP client.
#include "SimulatorSuite.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

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
        const ssize_t n = read(fd, buf, sizeof buf);
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

struct ThreeUnits {
    static constexpr int Count = 3;
    static constexpr const char* First = "127.0.0.11";
};

class UnitSimTest : public SimulatorSuite<ThreeUnits> {};

TEST_F(UnitSimTest, ControlLinesAreCheckedOneByOne)
{
    for (const char* good : {"ain 0 0 0", "ain 2 5 65535", "ain 1 3 -1", "din 1 7 1", "din 0 0 0", "fault 2 slow 0",
                             "fault 2 mute", "fault 2 trickle 5", "fault 2 closeeach", "fault 2 wrongunit",
                             "fault 2 exception", "fault 2 down", "fault 2 up", "  ain 0 1 5  "})
        EXPECT_EQ(sim().send(good), "ok") << good;
    for (const char* bad : {"",
                            "ain",
                            "ain 3 0 1",
                            "ain -1 0 1",
                            "ain 0 4 1",
                            "ain 0 6 1",
                            "ain 0 0 65536",
                            "ain 0 0 x",
                            "ain 0 0",
                            "din 0 8 1",
                            "din 0 0 2",
                            "din 0 0",
                            "fault 0",
                            "fault 0 sideways",
                            "fault 0 slow",
                            "fault 0 slow -3",
                            "fault 0 up now",
                            "quit now",
                            "jump 0 1 2",
                            "fault 0 trickle",
                            "fault 0 trickle -1",
                            "fault 0 closeeach 1"})
        EXPECT_EQ(sim().send(bad).rfind("error: ", 0), 0u) << '"' << bad << '"';
}

TEST_F(UnitSimTest, StandardClientReadsTheMap)
{
    ASSERT_TRUE(sim().ok("ain 1 0 11"));
    ASSERT_TRUE(sim().ok("ain 1 3 33"));
    ASSERT_TRUE(sim().ok("ain 1 5 45"));
    ASSERT_TRUE(sim().ok("din 1 0 1"));
    ASSERT_TRUE(sim().ok("din 1 1 0"));
    ModbusClient c(sim(), 1);
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
    ModbusClient c(sim(), 0);
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
    ModbusClient a(sim(), 0), b(sim(), 0), c(sim(), 2);
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
    EXPECT_EQ(rawRead(fd, 20, 1000), bytes({0, 1, 0, 0, 0, 5, 1, 4, 2, 0, 3, 0, 2, 0, 0, 0, 3, 1, 0xAB, 1}));
    close(fd);
}

TEST_F(UnitSimTest, FaultsAsAClientSeesThem)
{
    ASSERT_TRUE(sim().ok("fault 1 mute"));
    {
        const int fd = rawConnect(sim(), 1);
        ASSERT_NE(fd, -1) << "a mute unit still accepts";
        const std::string unheard = bytes({0, 9, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
        send(fd, unheard.data(), unheard.size(), 0);
        EXPECT_EQ(rawRead(fd, 1, 50), "");
        // Back to normal on the same connection: only the request sent since is answered.
        ASSERT_TRUE(sim().ok("fault 1 up"));
        const std::string heard = bytes({0, 10, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
        send(fd, heard.data(), heard.size(), 0);
        const std::string reply = rawRead(fd, 11, 1000);
        ASSERT_EQ(reply.size(), 11u);
        EXPECT_EQ(reply.substr(0, 2), bytes({0, 10})) << "the request sent while mute was answered";
        close(fd);
    }
    ASSERT_TRUE(sim().ok("fault 1 exception"));
    {
        ModbusClient c(sim(), 1);
        uint16_t v;
        EXPECT_EQ(modbus_read_registers(*c, 0, 1, &v), -1);
        EXPECT_EQ(errno, EMBXSFAIL);
    }
    ASSERT_TRUE(sim().ok("fault 1 down"));
    EXPECT_EQ(rawConnect(sim(), 1), -1);
    ASSERT_TRUE(sim().ok("fault 1 up"));
    {
        ModbusClient c(sim(), 1);
        uint16_t v;
        EXPECT_EQ(modbus_read_registers(*c, 0, 1, &v), 1);
    }
}

TEST_F(UnitSimTest, TrickleCloseEachAndWrongUnitAsAClientSeesThem)
{
    const std::string req = bytes({0, 7, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
    ASSERT_TRUE(sim().ok("fault 1 trickle 20"));
    {
        const int fd = rawConnect(sim(), 1);
        ASSERT_NE(fd, -1);
        const auto t0 = std::chrono::steady_clock::now();
        send(fd, req.data(), req.size(), 0);
        const std::string first = rawRead(fd, 1, 1000);
        EXPECT_EQ(first.size(), 1u) << "the first byte comes alone";
        const std::string rest = rawRead(fd, 10, 1000);
        EXPECT_EQ(rest.size(), 10u);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(10 * 20));
        EXPECT_EQ((first + rest).substr(0, 9), bytes({0, 7, 0, 0, 0, 5, 1, 3, 2})) << "trickled out of order";
        close(fd);
    }
    ASSERT_TRUE(sim().ok("fault 1 closeeach"));
    {
        const int fd = rawConnect(sim(), 1);
        ASSERT_NE(fd, -1);
        const std::string two = req + req;
        send(fd, two.data(), two.size(), 0);
        EXPECT_EQ(rawRead(fd, 100, 1000).size(), 11u) << "one answer, then the unit closes";
        close(fd);
    }
    ASSERT_TRUE(sim().ok("fault 1 wrongunit"));
    {
        const int fd = rawConnect(sim(), 1);
        ASSERT_NE(fd, -1);
        send(fd, req.data(), req.size(), 0);
        const std::string reply = rawRead(fd, 11, 1000);
        ASSERT_EQ(reply.size(), 11u);
        EXPECT_EQ(reply[6], 5);
        close(fd);
    }
}

TEST_F(UnitSimTest, AnswersWhatWasReceivedBeforeAHalfCloseOrGarbage)
{
    const std::string req = bytes({0, 8, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
    {
        const int fd = rawConnect(sim(), 0);
        ASSERT_NE(fd, -1);
        send(fd, req.data(), req.size(), 0);
        shutdown(fd, SHUT_WR);
        EXPECT_EQ(rawRead(fd, 100, 1000).size(), 11u);
        close(fd);
    }
    {
        const int fd = rawConnect(sim(), 0);
        ASSERT_NE(fd, -1);
        const std::string withGarbage = req + std::string(20, '\xEE');
        send(fd, withGarbage.data(), withGarbage.size(), 0);
        EXPECT_EQ(rawRead(fd, 100, 1000).size(), 11u) << "the good frame is answered, then the unit closes";
        close(fd);
    }
    // A slow unit holds its reply past the client's half-close and still sends it.
    ASSERT_TRUE(sim().ok("fault 0 slow 200"));
    {
        const int fd = rawConnect(sim(), 0);
        ASSERT_NE(fd, -1);
        send(fd, req.data(), req.size(), 0);
        shutdown(fd, SHUT_WR);
        EXPECT_EQ(rawRead(fd, 100, 1500).size(), 11u);
        close(fd);
    }
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Sends read requests on every socket without reading a reply, as far as the sockets take them:
// until none has taken a byte for quietMs (the unit has stopped reading them), or for limitMs.
void floodWithoutReading(const std::vector<int>& fds, int quietMs, int limitMs)
{
    std::string burst;
    for (int i = 0; i < 1000; ++i)
        burst += bytes({0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 16});
    // Where each socket is in the burst, so a partly taken send goes on from there and the
    // stream stays whole frames.
    std::vector<size_t> at(fds.size(), 0);
    for (int fd : fds)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    size_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    auto lastTaken = start;
    for (auto now = start; now - start < std::chrono::milliseconds(limitMs) &&
                           now - lastTaken < std::chrono::milliseconds(quietMs) && sent < 100u * 1024 * 1024;
         now = std::chrono::steady_clock::now()) {
        bool took = false;
        for (size_t i = 0; i < fds.size(); ++i) {
            const ssize_t n = send(fds[i], burst.data() + at[i], burst.size() - at[i], MSG_NOSIGNAL);
            if (n > 0) {
                sent += size_t(n);
                at[i] = (at[i] + size_t(n)) % burst.size();
                took = true;
            }
        }
        if (took)
            lastTaken = std::chrono::steady_clock::now();
        else
            usleep(5 * 1000);
    }
}

TEST(UnitSimBounds, ClientsThatDoNotReadAndSlowUnitsHoldLittleMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's own memory would be measured";
#endif
    UnitSimProcess sim(2, "127.0.0.41");
    ASSERT_TRUE(sim.running()) << sim.error();
    ASSERT_TRUE(sim.ok("fault 1 slow 60000"));
    const long before = residentKiB(sim.pid());
    const int a = rawConnect(sim, 0), b = rawConnect(sim, 1);
    ASSERT_TRUE(a != -1 && b != -1);
    floodWithoutReading({a, b}, 100, 3000);
    const long after = residentKiB(sim.pid());
    EXPECT_LT(after - before, 8 * 1024) << before << " KiB before, " << after << " KiB after";
    close(a);
    close(b);
    // A control line without its end is refused, not collected.
    EXPECT_EQ(sim.send(std::string(100000, 'a')).substr(0, 40), "error: line too long");
    EXPECT_EQ(sim.send("ain 0 0 1"), "ok");
}

double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string f;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(f);
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

long openDescriptors(pid_t pid)
{
    long n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

TEST(UnitSimBounds, RestsAtTheDescriptorLimitAndServesAgainAfter)
{
    // The simulator inherits a low descriptor limit; ours comes back at once.
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = 24;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    UnitSimProcess sim(1, "127.0.0.45");
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(sim.running()) << sim.error();

    std::vector<int> clients;
    for (int i = 0; i < 40; ++i)
        clients.push_back(rawConnect(sim, 0));
    // Until the simulator has taken all the connections its limit allows.
    for (int i = 0; i < 1000 && openDescriptors(sim.pid()) < long(low.rlim_cur); ++i)
        usleep(5 * 1000);
    ASSERT_GE(openDescriptors(sim.pid()), long(low.rlim_cur));
    const double cpu0 = cpuSeconds(sim.pid());
    usleep(300 * 1000);
    const double busy = cpuSeconds(sim.pid()) - cpu0;
    EXPECT_LT(busy, 0.1) << "seconds of CPU in 0.3 s at the descriptor limit";
    for (int fd : clients)
        if (fd != -1)
            close(fd);
    // The client's own wait for an answer covers the simulator's rest.
    ModbusClient c(sim, 0);
    ASSERT_TRUE(c.connected());
    uint16_t v;
    EXPECT_EQ(modbus_read_registers(*c, 0, 1, &v), 1);
}

// Starts the simulator with these arguments and returns what it says on its error output
// before it ends (or within five seconds).
std::string complaint(const std::vector<std::string>& args)
{
    int err[2];
    if (pipe(err) != 0)
        return "no pipe";
    const std::string path = UnitSimProcess::binaryPath();
    std::vector<const char*> argv{path.c_str()};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execv(path.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(err[1]);
    if (pid < 0) {
        close(err[0]);
        return "no fork";
    }
    const std::string message = rawRead(err[0], 1000, 5000);
    close(err[0]);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return message;
}

TEST(UnitSimBounds, AddressesPastTheLastAreRefused)
{
    // Without the check the third unit wraps to 0.0.0.0.
    const std::string message = complaint({"--first", "255.255.255.254", "--units", "3", "--port", "0"});
    EXPECT_NE(message.find("past 255.255.255.255"), std::string::npos) << message;
}

TEST_F(UnitSimTest, AnaloguesDriftSlowlyNearTheirLevel)
{
    // A unit of its own that drifts a step every 10 ms rather than every second.
    constexpr int periodMs = 10;
    UnitSimProcess fast(1, "127.0.0.61", {"--drift-ms", std::to_string(periodMs)});
    ASSERT_TRUE(fast.running()) << fast.error();
    ModbusClient c(fast, 0);
    ASSERT_TRUE(c.connected());
    using Steady = std::chrono::steady_clock;
    uint16_t first[6], last[6];
    auto lastAsked = Steady::now();
    ASSERT_EQ(modbus_read_input_registers(*c, 0, 6, first), 6);
    std::copy(first, first + 6, last);
    bool moved = false;
    for (int read = 0; read < 20; ++read) {
        usleep(periodMs * 1000);
        const auto asked = Steady::now();
        uint16_t now[6];
        ASSERT_EQ(modbus_read_input_registers(*c, 0, 6, now), 6);
        // At most a step per period between the two reads, whatever the scheduler did.
        const long steps = long((Steady::now() - lastAsked) / std::chrono::milliseconds(periodMs)) + 1;
        for (int ch : {0, 1, 2, 3, 5}) {
            EXPECT_LE(std::abs(now[ch] - last[ch]), steps) << "channel " << ch;
            EXPECT_LE(std::abs(now[ch] - first[ch]), ch == 5 ? 2 * 4 : 2 * 8) << "channel " << ch << " left its level";
            moved = moved || now[ch] != first[ch];
        }
        std::copy(now, now + 6, last);
        lastAsked = asked;
    }
    EXPECT_TRUE(moved) << "nothing drifted in 20 periods";

    for (const char* bad : {"0", "x", "3600001"})
        EXPECT_NE(complaint({"--drift-ms", bad}).find("--drift-ms takes"), std::string::npos) << bad;
}

TEST(UnitSimLifetime, KeepsServingAfterInputClosesAndStopsOnSignal)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    sim.closeInput();
    usleep(100 * 1000);
    {
        ModbusClient c(sim, 0);
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
    ModbusClient c(sim, 99);
    ASSERT_TRUE(c.connected());
    uint16_t v = 0;
    ASSERT_EQ(modbus_read_input_registers(*c, 0, 1, &v), 1);
    EXPECT_EQ(v, 4321);
    EXPECT_EQ(sim.send("quit"), "ok");
}

} // namespace
