#pragma once
// Starts talveron-unitsim as a child process for a test: N units on a free port,
// control lines in, answers out, and the process gone when the object is.
//
//   UnitSimProcess sim(3);                 // units 0..2 at 127.0.0.11..13
//   ASSERT_TRUE(sim.running()) << sim.error();
//   link.setIP(QString::fromStdString(sim.ip(0)));
//   link.setParallelPort(sim.port());
//   EXPECT_EQ(sim.send("fault 0 mute"), "ok");

#include <cstdint>
#include <string>
#include <vector>
#include <sys/types.h>

class UnitSimProcess {
public:
    // Starts the simulator and waits for its ready lines; options go on its command line
    // (e.g. {"--drift-ms", "10"}).
    explicit UnitSimProcess(int units = 1, const std::string& first = "127.0.0.11",
                            const std::vector<std::string>& options = {});
    ~UnitSimProcess();
    UnitSimProcess(const UnitSimProcess&) = delete;
    UnitSimProcess& operator=(const UnitSimProcess&) = delete;

    bool running() const { return m_pid > 0 && m_ready; }
    const std::string& error() const { return m_error; }
    int16_t port() const { return m_port; }
    int units() const { return m_units; }
    std::string ip(int unit) const;
    pid_t pid() const { return m_pid; }

    // Sends one control line and returns the answer line ("ok" or "error: ..."),
    // or an empty text when none came within timeoutMs.
    std::string send(const std::string& line, int timeoutMs = 5000);
    // send() == "ok", for ASSERT_TRUE(sim.ok("fault 0 down")).
    bool ok(const std::string& line) { return send(line) == "ok"; }
    // Sends quit and reaps the process (also done by the destructor).
    void stop();
    // Closes the simulator's standard input (it keeps serving).
    void closeInput();
    // Sends SIGTERM and waits up to timeoutMs; the exit status, or -1 if it did not end.
    int terminate(int timeoutMs = 2000);

    static std::string binaryPath();

private:
    bool readLine(std::string& line, int timeoutMs);

    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    bool m_ready = false;
    int m_units = 0;
    int16_t m_port = 0;
    std::string m_first;
    std::string m_buffer;
    std::string m_error;
};
