#pragma once
// Device link to one I/O unit over Modbus TCP (unit id 1, TCP port = ParallelPort).
//
// Time-out: TimeOut is in seconds and bounds a whole exchange from its request (see
// ModbusTcpClient). TimeOut 0 (and anything below it), which the probe uses, means a short wait
// of kZeroTimeOutMs milliseconds, so a probe of a missing unit never blocks the window for long.
// Timings given at construction can shorten these waits (tests do, so a unit that never answers
// costs milliseconds); the defaults are the ones above.
//
// Connection: one, to the unit the link is aimed at, kept between exchanges; re-aimed at
// another unit the link closes it and connects to the new one. How long a link lives is its
// owner's business: the poll engine gives each unit a link of its own and drops links left idle.
// Any failed exchange, an exception reply included, closes the connection.
//
// Read snapshot: the first GetAnalog of a poll reads input registers 0..5 in one
// request and the first GetPin(6, ..) reads discrete inputs 0..7 in one; later reads
// of the same port are answered from that copy. The copy is dropped when any property
// is written (callers write them before every exchange), on SetPin and SetDirp, on any
// error, and once it is older than kSnapshotAgeMs, so a value never outlives its poll.

#include "outside/DeviceLink.h"
#include "outside/ModbusTcpClient.h"
#include "platform/MonotonicClock.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class VARNIX : public DeviceLink {
public:
    static constexpr int kZeroTimeOutMs = 1000;
    static constexpr int kSnapshotAgeMs = 200;
    static constexpr int kUnitId = ModbusTcpClient::kUnitId;

    struct Timings {
        int timeOutUnitMs = 1000;                    // what one unit of TimeOut lasts
        int zeroTimeOutMs = kZeroTimeOutMs;          // the wait of TimeOut 0
        int byteGapMs = ModbusTcpClient::kByteGapMs; // see ModbusTcpClient
    };

    // The clock must outlive the link; tests pass one they move by hand.
    explicit VARNIX(const MonotonicClock& clock = SteadyClock::instance());
    VARNIX(const MonotonicClock& clock, const Timings& timings);
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

    // Whether a connection is open now, and how many this link has opened so far (for tests
    // and the benchmark).
    bool isConnected() const { return m_client.isConnected(); }
    int connectCount() const { return m_client.connectCount(); }

    void watchCancel(const std::atomic<bool>* flag) override { m_client.watchCancel(flag); }

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
    void disconnect();
    void dropSnapshots();
    [[noreturn]] void fail(const std::string& what, const std::string& why);
    [[noreturn]] void badArgument(const std::string& what);
    bool portABlockRefusedHere() const;
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
    Timings m_timings;
    ModbusTcpClient m_client;
    // A unit that refuses the whole-port read (exception) is read register by register for as
    // long as the connection lasts: this is the connection's number (connectCount) it refused on.
    int m_portABlockRefusedOn = -1;
    std::optional<PortASnapshot> m_portA;
    std::optional<PortBSnapshot> m_portB;
};
