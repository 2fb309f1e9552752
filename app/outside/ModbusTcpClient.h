#pragma once
// One Modbus TCP connection to one unit at a time: the station's own client.
//
// Time-out: each exchange gets a time-out that bounds it whole, from its request: the connect
// (when one is needed), sending and the complete reply, however slowly the unit trickles it.
// After the first reply byte the rest must also follow within the byte gap (kByteGapMs unless
// set otherwise).
//
// Replies are checked against the request: transaction id, protocol id 0, unit id kUnitId, an
// MBAP length that matches the PDU, and the PDU's own byte count (a write echoes its request).
// Anything else is a failed exchange.
//
// Connection: kept open between exchanges to the same unit. Aimed at another unit, the client
// closes the old connection and opens the new one; whoever owns the client decides how long it
// lives (in the station: the poll engine's lane). A kept connection idle for more than
// kStaleMs is not trusted and is replaced before the next request, since the unit may have
// dropped it without a word. Any failed exchange closes the connection, which is what keeps a
// late reply from being read as the answer to the next request. A kept connection that fails
// before any byte of the reply (a unit that closes after each answer) is replaced by a fresh
// one and the request sent once more, within the same time-out: callers send only requests that
// are safe to repeat.
//
// Cancel: a flag another thread may raise; every wait looks at it at least every 50 ms and
// the exchange then fails at once as a time-out.

#include "platform/MonotonicClock.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

class ModbusTcpClient {
public:
    static constexpr int kUnitId = 1;
    static constexpr int kByteGapMs = 500;
    static constexpr int kStaleMs = 5000;

    // A failed exchange; what() says why ("no answer within the time-out"), connecting() whether
    // it failed in the connect. The connection is closed.
    class Failure : public std::runtime_error {
    public:
        explicit Failure(const std::string& why, bool connecting = false)
            : std::runtime_error(why)
            , m_connecting(connecting)
        {
        }
        bool connecting() const { return m_connecting; }

    private:
        bool m_connecting;
    };
    // An address no connection can be tried to (not dotted IPv4, a port below 1).
    class BadAddress : public Failure {
    public:
        using Failure::Failure;
    };

    // The clock must outlive the client; tests pass one they move by hand.
    explicit ModbusTcpClient(const MonotonicClock& clock = SteadyClock::instance());
    ~ModbusTcpClient();
    ModbusTcpClient(const ModbusTcpClient&) = delete;
    ModbusTcpClient& operator=(const ModbusTcpClient&) = delete;

    // Sends one request PDU (function code first) to the unit at ip:port and returns its reply
    // PDU, an exception reply included; throws Failure. A timeoutMs below 1 counts as 1.
    std::string exchange(const std::string& ip, int port, const std::string& pdu, int timeoutMs);

    void close();
    bool isConnected() const { return m_fd >= 0; }
    bool isConnectedTo(const std::string& ip, int port) const
    {
        return m_fd >= 0 && ip == m_connectedIp && port == m_connectedPort;
    }
    // How many connections this client has opened so far; also tells one connection from the next.
    int connectCount() const { return m_connects; }

    void watchCancel(const std::atomic<bool>* flag) { m_cancel = flag; }

    // The longest pause allowed between two bytes of one reply; tests shorten it. Below 1 counts
    // as 1.
    void setByteGapMs(int ms) { m_byteGapMs = ms < 1 ? 1 : ms; }
    int byteGapMs() const { return m_byteGapMs; }

private:
    using TimePoint = MonotonicClock::time_point;
    enum class Attempt { Done, FailedBeforeReply };

    // True when the connection was kept from an earlier exchange.
    bool ensureConnected(const std::string& ip, int port, TimePoint deadline);
    void connectFresh(const std::string& ip, int port, TimePoint deadline);
    // One send and receive on the current connection; err holds the cause of a failure before
    // any reply byte, which the caller may retry.
    Attempt attempt(const std::string& adu, std::string& reply, TimePoint deadline, int& err);
    [[noreturn]] void fail(const std::string& why, bool connecting = false);

    const MonotonicClock& m_clock;
    const std::atomic<bool>* m_cancel = nullptr;
    int m_byteGapMs = kByteGapMs;
    int m_fd = -1;
    uint16_t m_transaction = 0;
    std::string m_connectedIp;
    int m_connectedPort = 0;
    int m_connects = 0;
    TimePoint m_lastUsed{};
};
