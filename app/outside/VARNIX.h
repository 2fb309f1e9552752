#pragma once
// Device link to one I/O unit over Modbus TCP (unit id 1, TCP port = ParallelPort).
//
// Time-out: TimeOut is in seconds and bounds a whole exchange from its request: the
// connect (when one is needed), sending and the complete reply, however slowly the unit
// trickles it. After the first reply byte the rest must also follow within kByteGapMs.
// TimeOut 0 (and anything below it), which the probe uses, means a short wait of
// kZeroTimeOutMs milliseconds, so a probe of a missing unit never blocks the window for long.
//
// Replies are checked against the request: transaction id, protocol id 0, unit id 1,
// an MBAP length that matches the PDU, and the PDU's own byte count. Anything else is a
// failed exchange.
//
// Connection: one per unit the link is aimed at, kept open between exchanges, so a
// link re-aimed at unit after unit (the main window polls every unit through one)
// does not open and close a TCP connection per unit and cycle. A connection left idle
// for kIdleCloseMs is closed, so slow cycles hold no sockets on the units. Any failed
// exchange closes that unit's connection and the next operation connects afresh.
// A kept connection that fails before any byte of the reply (a unit that closes after
// each answer) is replaced by a fresh one and the request sent once more, within the
// same time-out: every request of the map is safe to repeat.
// Closing after a time-out is what keeps a late reply from being read as the answer
// to the next request.
//
// Read snapshot: the first GetAnalog of a poll reads input registers 0..5 in one
// request and the first GetPin(6, ..) reads discrete inputs 0..7 in one; later reads
// of the same port are answered from that copy. The copy is dropped when any property
// is written (callers write them before every exchange), on SetPin and SetDirp, on any
// error, and once it is older than kSnapshotAgeMs, so a value never outlives its poll.

#include "DeviceLink.h"
#include "MonotonicClock.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

class VARNIX : public DeviceLink {
public:
    static constexpr int kZeroTimeOutMs = 1000;
    static constexpr int kSnapshotAgeMs = 200;
    static constexpr int kUnitId = 1;
    static constexpr int kIdleCloseMs = 5000;
    static constexpr int kByteGapMs = 500;

    // The clock must outlive the link; tests pass one they move by hand.
    explicit VARNIX(const MonotonicClock& clock = SteadyClock::instance());
    ~VARNIX() override;
    VARNIX(const VARNIX&) = delete;
    VARNIX& operator=(const VARNIX&) = delete;

    void setIP(const QString& ip) override;
    void setLcdPort(int16_t port) override;
    void setParallelPort(int16_t port) override;
    void setSerialPort(int16_t port) override;
    void setBaudRate(const QString& bps) override;
    void setTimeOut(int32_t seconds) override;

    QString IP() const override { return m_ip; }
    int16_t LcdPort() const override { return m_lcdPort; }
    int16_t ParallelPort() const override { return m_parallelPort; }
    int16_t SerialPort() const override { return m_serialPort; }
    QString BaudRate() const override { return m_baudRate; }
    int32_t TimeOut() const override { return m_timeOut; }

    int16_t GetDirp(int32_t port, int16_t pin) override;
    void SetDirp(int32_t port, int16_t pin, int32_t direction) override;
    int16_t GetAnalog(int32_t port, int16_t channel) override;
    int32_t GetPin(int32_t port, int16_t pin) override;
    void SetPin(int32_t port, int16_t pin, int32_t level) override;

    // Whether a connection is open now (for tests and the benchmark).
    bool isConnected() const { return m_fd >= 0; }
    // How many connections this link has opened so far, and holds now.
    int connectCount() const { return m_connects; }
    int openConnections() const { return int(m_parked.size()) + (m_fd >= 0 ? 1 : 0); }

    void watchCancel(const std::atomic<bool>* flag) override { m_cancel = flag; }

private:
    using TimePoint = MonotonicClock::time_point;

    struct PortASnapshot {
        uint16_t regs[6];
        TimePoint taken;
    };
    struct PortBSnapshot {
        uint8_t bits[8];
        TimePoint taken;
    };

    // Sends one request PDU and returns the reply PDU (function code first), or throws.
    std::string exchange(const std::string& pdu, const std::string& what);
    // True when the connection was kept from an earlier exchange.
    bool ensureConnected(TimePoint deadline);
    void connectFresh(TimePoint deadline);
    enum class Attempt { Done, FailedBeforeReply };
    // One send and receive on the current connection; err holds the cause of a failure
    // before any reply byte, which the caller may retry.
    Attempt attempt(const std::string& adu, std::string& reply, TimePoint deadline, const std::string& what, int& err);
    void disconnect();
    void park();
    void closeIdle();
    void dropSnapshots();
    [[noreturn]] void fail(const std::string& what, const std::string& why);
    [[noreturn]] void badArgument(const std::string& what);
    int timeoutMs() const;
    std::string target() const;
    bool fresh(TimePoint taken) const;

    QString m_ip;
    int16_t m_lcdPort = 0;
    int16_t m_parallelPort = 0;
    int16_t m_serialPort = 0;
    QString m_baudRate;
    int32_t m_timeOut = 0;

    const MonotonicClock& m_clock;
    const std::atomic<bool>* m_cancel = nullptr;
    int m_fd = -1;
    uint16_t m_transaction = 0;
    std::string m_connectedIp;
    int m_connectedPort = 0;
    int m_connects = 0;
    // A unit that refuses the whole-port read (exception) is read register by register
    // for as long as the connection lasts.
    bool m_portABlockRefused = false;
    // Connections to the other units this link was aimed at, by "ip:port".
    struct Parked {
        int fd;
        bool portABlockRefused;
        TimePoint lastUsed;
    };
    std::map<std::string, Parked> m_parked;
    TimePoint m_lastUsed{};
    std::optional<PortASnapshot> m_portA;
    std::optional<PortBSnapshot> m_portB;
};
