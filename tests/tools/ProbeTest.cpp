#include "SimulatorSuite.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ProbeRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

ProbeRun probe(const std::string& args)
{
    const std::string base = "/tmp/talveron-probe-test-" + std::to_string(getpid());
    const std::string cmd = std::string(TALVERON_PROBE_PATH) + " " + args + " >" + base + ".out 2>" + base + ".err";
    ProbeRun r;
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = slurp(base + ".out");
    r.err = slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return r;
}

struct TwoUnits {
    static constexpr int Count = 2;
    static constexpr const char* First = "127.0.0.41";
};

class ProbeTest : public SimulatorSuite<TwoUnits> {
protected:
    std::string target(int unit) { return sim().ip(unit) + " " + std::to_string(sim().port()); }
};

TEST_F(ProbeTest, PrintsEveryReadingOfTheUnit)
{
    for (const char* line : {"ain 0 0 0", "ain 0 1 17", "ain 0 2 1023", "ain 0 3 512", "ain 0 5 46"})
        ASSERT_TRUE(sim().ok(line));
    for (int p = 0; p < 8; ++p)
        ASSERT_TRUE(sim().ok("din 0 " + std::to_string(p) + (p == 2 || p == 7 ? " 1" : " 0")));
    // Pin 4 as an output driven high.
    ModbusClient client(sim(), 0);
    ASSERT_TRUE(client.connected());
    modbus_t* ctx = *client;
    ASSERT_EQ(modbus_write_register(ctx, 8 + 4, 0), 1);
    ASSERT_EQ(modbus_write_bit(ctx, 4, 1), 1);

    const ProbeRun r = probe(target(0));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "DIRA0 2\nDIRA1 2\nDIRA2 2\nDIRA3 2\nDIRA4 2\nDIRA5 2\n"
                     "DIRB0 1\nDIRB1 1\nDIRB2 1\nDIRB3 1\nDIRB4 0\nDIRB5 1\nDIRB6 1\nDIRB7 1\n"
                     "RA0 0\nRA1 17\nRA2 1023\nRA3 512\n"
                     "TEMP 46 23\n"
                     "RB0 0\nRB1 0\nRB2 1\nRB3 0\nRB4 1\nRB5 0\nRB6 0\nRB7 1\n");
    EXPECT_EQ(r.err, "");

    modbus_write_bit(ctx, 4, 0);
    modbus_write_register(ctx, 8 + 4, 1);
}

TEST_F(ProbeTest, TemperatureBelowZeroAndRounding)
{
    ASSERT_TRUE(sim().ok("ain 1 5 -7")); // -3.46 degrees
    ProbeRun r = probe(target(1) + " 2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nTEMP -7 -3\n"), std::string::npos) << r.out;
    ASSERT_TRUE(sim().ok("ain 1 5 44")); // 21.74
    r = probe(target(1));
    EXPECT_NE(r.out.find("\nTEMP 44 22\n"), std::string::npos) << r.out;
}

TEST_F(ProbeTest, UnitThatDoesNotAnswerFailsWithAMessage)
{
    ASSERT_TRUE(sim().ok("fault 0 down"));
    ProbeRun r = probe(target(0));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("does not answer"), std::string::npos) << r.err;

    // The short wait of TimeOut 0, shortened from its second.
    ASSERT_TRUE(sim().ok("fault 0 mute"));
    const auto t0 = std::chrono::steady_clock::now();
    r = probe("--wait-ms 100 " + target(0));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("does not answer"), std::string::npos) << r.err;
    EXPECT_GE(took, 0.1);
    EXPECT_LT(took, 0.1 + 0.8);

    ASSERT_TRUE(sim().ok("fault 0 exception"));
    r = probe(target(0));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

TEST_F(ProbeTest, BadArgumentsAreRefused)
{
    for (const std::string args :
         {"", "127.0.0.41", "127.0.0.41 0", "127.0.0.41 70000", "127.0.0.41 502 -1", "127.0.0.41 502 x",
          "127.0.0.41 502 1 extra", "--wait-ms", "--wait-ms 0 127.0.0.41 502", "--wait-ms x 127.0.0.41 502",
          "--wait-ms 100", "--wait-ms 100 127.0.0.41", "127.0.0.41 502 --wait-ms 100"}) {
        const ProbeRun r = probe(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << args;
    }
    const ProbeRun r = probe("not.an.address 502");
    EXPECT_EQ(r.status, 1);
}

} // namespace
