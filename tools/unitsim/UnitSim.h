#pragma once
// Simulated I/O units speaking Modbus TCP, all served by one epoll loop.

#include <chrono>
#include <cstdint>
#include <deque>
#include <sys/epoll.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace unitsim {

using Clock = std::chrono::steady_clock;

// The register map of one unit.
struct UnitState {
    static constexpr int kInputRegs = 6; // RA0..RA3, (4 unused), temperature channel 5
    static constexpr int kHolding = 16;  // directions: port A pins 0..5 at 0..5, port B pins at 8..15
    static constexpr int kCoils = 22;    // port B outputs 0..7, port A outputs 16..21
    static constexpr int kDiscrete = 8;  // levels at port B pins

    uint16_t input[kInputRegs] = {};
    uint16_t base[kInputRegs] = {};
    bool pinned[kInputRegs] = {}; // set by `ain`; stops drifting
    uint16_t holding[kHolding] = {};
    uint8_t coil[kCoils] = {};
    uint8_t inputLevel[kDiscrete] = {}; // level applied to an input pin (`din`)

    void reset(int unitIndex);
    bool discrete(int pin) const;
    void drift(std::mt19937& rng);
};

// Builds the reply PDU for one request PDU (function code first).
std::string handlePdu(UnitState& unit, const std::string& pdu);
std::string exceptionPdu(uint8_t function, uint8_t code);

enum class Mode { Normal, Down, Mute, Exception };

struct Unit {
    std::string ip;
    int listenFd = -1;
    Mode mode = Mode::Normal;
    int slowMs = 0;
    int trickleMs = 0;      // replies go out one byte every trickleMs
    bool closeEach = false; // close the connection after each reply
    bool wrongUnit = false; // replies carry another unit id than the request
    // Accepting failed for want of descriptors: the listener rests until then.
    Clock::time_point acceptRestUntil{};
    bool acceptResting = false;
    UnitState state;
};

struct Conn {
    int fd = -1;
    int unit = -1;
    std::string in;
    std::string out;
    uint32_t watched = EPOLLIN; // what epoll is told to report now
    // No more requests are read: the client half-closed, sent garbage, or the unit closes
    // after each reply. What was received is still answered, then the connection closes.
    bool closing = false;
    size_t pendingBytes = 0;
    struct Pending {
        Clock::time_point due;
        std::string bytes;
    };
    std::deque<Pending> pending;
};

class Server {
public:
    static constexpr int kDriftPeriodMs = 1000;

    // Binds every unit; port 0 picks one free port shared by all units.
    bool start(int units, const std::string& first, int port, std::string& error);
    // How often unpinned analogue inputs move a step; set before run().
    void setDriftPeriodMs(int ms) { m_driftPeriod = std::chrono::milliseconds(ms < 1 ? 1 : ms); }
    int port() const { return m_port; }
    const std::vector<Unit>& units() const { return m_units; }
    // Runs until quit or a signal; controlFd is read for control lines.
    int run(int controlFd, int stopFd);
    std::string control(const std::string& line, bool& quit);

private:
    bool listenUnit(Unit& u, int port, std::string& error);
    void closeUnit(int unitIndex);
    void accept(int unitIndex);
    void readConn(Conn& c);
    void flushConn(Conn& c);
    void closeConn(Conn& c);
    void serviceDue(Clock::time_point now);
    void queueReply(Conn& c, const Unit& u, std::string adu);
    void updateWatch(Conn& c);
    void restAccepting(int unitIndex);
    void resumeAccepting(Clock::time_point now);

    void watch(int fd, uint64_t tag, uint32_t events, int op);

    int m_epfd = -1;
    std::vector<Unit> m_units;
    std::vector<std::unique_ptr<Conn>> m_conns;
    int m_port = 0;
    Clock::duration m_driftPeriod = std::chrono::milliseconds(kDriftPeriodMs);
    std::mt19937 m_rng{std::random_device{}()};
};

} // namespace unitsim
