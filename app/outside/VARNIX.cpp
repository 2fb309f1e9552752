#include "VARNIX.h"

#include <modbus.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kPortA = UnitMap::PortA;
constexpr int kPortB = UnitMap::PortB;
// Port A: RA0..RA3 and the temperature channel 5; pin 4 carries only a direction.
constexpr int kPortAPins = 6;
constexpr int kPortBPins = UnitMap::PortBPins;
constexpr int kPortADirBase = 0;
constexpr int kPortBDirBase = 8;
constexpr int kPortACoilBase = 16;
constexpr int kPortBCoilBase = 0;

// A kept connection is fit for the next request only when the unit has not closed it and
// nothing is waiting to be read: a byte there would be a reply to no request of ours.
bool idleAndOpen(int fd)
{
    if (fd < 0)
        return false;
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

bool isAnalogChannel(int channel)
{
    return (channel >= 0 && channel <= 3) || channel == 5;
}

constexpr uint8_t kReadDiscrete = 0x02;
constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;
constexpr uint8_t kWriteCoil = 0x05;
constexpr uint8_t kWriteRegister = 0x06;
constexpr uint8_t kIllegalAddress = 0x02;

void put16(std::string& s, uint16_t v)
{
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v & 0xFF));
}

uint16_t be16(const std::string& s, size_t at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]));
}

std::string request(uint8_t function, uint16_t addr, uint16_t arg)
{
    std::string pdu(1, static_cast<char>(function));
    put16(pdu, addr);
    put16(pdu, arg);
    return pdu;
}

// Waits for fd until the deadline; false on time-out or cancel. The wait is measured by the
// link's clock, so a test clock that jumps past the deadline ends it at once; it looks at the
// cancel flag every few tens of milliseconds.
bool waitFor(int fd, short events, const MonotonicClock& clock, MonotonicClock::time_point until,
             const std::atomic<bool>* cancel)
{
    for (;;) {
        if (cancel && cancel->load())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clock.now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(std::min<long long>(left, cancel ? 50 : 60000)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return true; // let the following call report the error
    }
}

bool isException(const std::string& reply, uint8_t function)
{
    return static_cast<uint8_t>(reply[0]) == (function | 0x80);
}

std::string exceptionText(const std::string& reply)
{
    return std::string("unit answered exception ") + std::to_string(static_cast<uint8_t>(reply[1])) + " (" +
           modbus_strerror(MODBUS_ENOBASE + static_cast<uint8_t>(reply[1])) + ")";
}

// A reply is in step with the request and of the length its function needs; the exception
// form is accepted here and left to the caller.
bool replyFits(const std::string& req, const std::string& reply)
{
    const uint8_t fc = static_cast<uint8_t>(req[0]);
    if (reply.empty())
        return false;
    if (isException(reply, fc))
        return reply.size() == 2;
    if (static_cast<uint8_t>(reply[0]) != fc)
        return false;
    const uint16_t qty = be16(req, 3);
    switch (fc) {
    case kReadDiscrete:
        return reply.size() >= 2 && static_cast<uint8_t>(reply[1]) == (qty + 7) / 8 &&
               reply.size() == 2u + (qty + 7) / 8;
    case kReadHolding:
    case kReadInput:
        return reply.size() >= 2 && static_cast<uint8_t>(reply[1]) == qty * 2 && reply.size() == 2u + qty * 2;
    default: // the writes echo their request
        return reply == req;
    }
}

} // namespace

VARNIX::VARNIX(const MonotonicClock& clock) : m_clock(clock) {}

VARNIX::~VARNIX()
{
    disconnect();
    for (auto& [key, p] : m_parked)
        ::close(p.fd);
}

void VARNIX::setIP(const QString& ip)
{
    m_ip = ip;
    dropSnapshots();
}

void VARNIX::setLcdPort(int16_t port)
{
    m_lcdPort = port;
    dropSnapshots();
}

void VARNIX::setParallelPort(int16_t port)
{
    m_parallelPort = port;
    dropSnapshots();
}

void VARNIX::setSerialPort(int16_t port)
{
    m_serialPort = port;
    dropSnapshots();
}

void VARNIX::setBaudRate(const QString& bps)
{
    m_baudRate = bps;
    dropSnapshots();
}

void VARNIX::setTimeOut(int32_t seconds)
{
    m_timeOut = seconds;
    dropSnapshots();
}

int VARNIX::timeoutMs() const
{
    if (m_timeOut <= 0)
        return kZeroTimeOutMs;
    // Keep the product inside int; no unit wait needs more than a day.
    const int32_t capped = m_timeOut > 86400 ? 86400 : m_timeOut;
    return capped * 1000;
}

std::string VARNIX::target() const
{
    return m_ip.toStdString() + ":" + std::to_string(m_parallelPort);
}

bool VARNIX::fresh(TimePoint taken) const
{
    return m_clock.now() - taken < std::chrono::milliseconds(kSnapshotAgeMs);
}

void VARNIX::dropSnapshots()
{
    m_portA.reset();
    m_portB.reset();
}

void VARNIX::disconnect()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_portABlockRefused = false;
    dropSnapshots();
}

void VARNIX::park()
{
    // Only a connection whose last exchange went well is kept: nothing can be in flight on it.
    m_parked[m_connectedIp + ":" + std::to_string(m_connectedPort)] = {m_fd, m_portABlockRefused, m_lastUsed};
    m_fd = -1;
    m_portABlockRefused = false;
}

void VARNIX::closeIdle()
{
    const auto limit = m_clock.now() - std::chrono::milliseconds(kIdleCloseMs);
    for (auto it = m_parked.begin(); it != m_parked.end();) {
        if (it->second.lastUsed < limit) {
            ::close(it->second.fd);
            it = m_parked.erase(it);
        } else {
            ++it;
        }
    }
}

void VARNIX::fail(const std::string& what, const std::string& why)
{
    // Whatever went wrong, the stream may now hold a reply nobody waits for.
    disconnect();
    throw DeviceLinkError(target() + ": " + what + ": " + why);
}

void VARNIX::badArgument(const std::string& what)
{
    dropSnapshots();
    throw DeviceLinkError(target() + ": " + what);
}

bool VARNIX::ensureConnected(TimePoint deadline)
{
    const std::string ip = m_ip.trimmed().toStdString();
    const int port = m_parallelPort;
    if (m_fd >= 0 && (ip != m_connectedIp || port != m_connectedPort))
        park();
    if (m_fd < 0) {
        closeIdle();
        const auto it = m_parked.find(ip + ":" + std::to_string(port));
        if (it != m_parked.end()) {
            m_fd = it->second.fd;
            m_portABlockRefused = it->second.portABlockRefused;
            m_lastUsed = it->second.lastUsed;
            m_connectedIp = ip;
            m_connectedPort = port;
            m_parked.erase(it);
        }
    }
    if (m_fd >= 0 && m_clock.now() - m_lastUsed > std::chrono::milliseconds(kIdleCloseMs))
        disconnect(); // the unit may have dropped a connection idle this long
    if (m_fd >= 0 && !idleAndOpen(m_fd))
        disconnect(); // closed by the unit, or holding bytes nobody asked for
    m_lastUsed = m_clock.now();
    if (m_fd >= 0)
        return true;
    connectFresh(deadline);
    return false;
}

void VARNIX::connectFresh(TimePoint deadline)
{
    const std::string ip = m_ip.trimmed().toStdString();
    const int port = m_parallelPort;
    in_addr addr{};
    if (ip.empty() || inet_pton(AF_INET, ip.c_str(), &addr) != 1)
        badArgument("not a dotted IPv4 address");
    if (port <= 0)
        badArgument("bad TCP port " + std::to_string(port));

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("connect", std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr = addr;
    int err = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            if (!waitFor(fd, POLLOUT, m_clock, deadline, m_cancel)) {
                err = ETIMEDOUT;
            } else {
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
    }
    if (err != 0) {
        ::close(fd);
        fail("connect", err == ETIMEDOUT ? "no answer within the time-out" : std::strerror(err));
    }
    m_fd = fd;
    m_connectedIp = ip;
    m_connectedPort = port;
    m_portABlockRefused = false;
    ++m_connects;
}

VARNIX::Attempt VARNIX::attempt(const std::string& adu, std::string& reply, TimePoint deadline, const std::string& what,
                                int& err)
{
    err = 0;
    size_t sent = 0;
    while (sent < adu.size()) {
        const ssize_t n = ::send(m_fd, adu.data() + sent, adu.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(m_fd, POLLOUT, m_clock, deadline, m_cancel))
                fail(what, "no answer within the time-out");
            continue;
        }
        err = n < 0 ? errno : 0;
        return Attempt::FailedBeforeReply;
    }

    // The whole reply must arrive by the deadline, and each byte within the gap of the last.
    std::string in;
    size_t want = 7;
    TimePoint until = deadline;
    while (in.size() < want) {
        // The socket does not block: read what is there, and wait only when nothing is.
        char buf[260];
        const ssize_t n = ::recv(m_fd, buf, std::min(sizeof buf, want - in.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(m_fd, POLLIN, m_clock, until, m_cancel))
                fail(what, in.empty()          ? "no answer within the time-out"
                           : until == deadline ? "reply not complete within the time-out"
                                               : "reply broke off");
            continue;
        }
        if (n <= 0) {
            if (in.empty()) {
                err = n < 0 ? errno : 0;
                return Attempt::FailedBeforeReply;
            }
            fail(what, n == 0 ? "connection closed by the unit" : std::strerror(errno));
        }
        in.append(buf, size_t(n));
        until = std::min(deadline, m_clock.now() + std::chrono::milliseconds(kByteGapMs));
        if (want == 7 && in.size() == 7) {
            if (be16(in, 0) != be16(adu, 0))
                fail(what, "reply to another request (transaction id)");
            if (be16(in, 2) != 0)
                fail(what, "not a Modbus reply (protocol id " + std::to_string(be16(in, 2)) + ")");
            const uint16_t len = be16(in, 4);
            if (len < 2 || len > 254)
                fail(what, "bad reply length " + std::to_string(len));
            if (static_cast<uint8_t>(in[6]) != kUnitId)
                fail(what, "reply from unit id " + std::to_string(static_cast<uint8_t>(in[6])));
            want = 6u + len;
        }
    }
    reply = in.substr(7);
    return Attempt::Done;
}

std::string VARNIX::exchange(const std::string& pdu, const std::string& what)
{
    const TimePoint deadline = m_clock.now() + std::chrono::milliseconds(timeoutMs());
    const bool reused = ensureConnected(deadline);
    std::string adu;
    put16(adu, ++m_transaction);
    put16(adu, 0);
    put16(adu, static_cast<uint16_t>(pdu.size() + 1));
    adu.push_back(static_cast<char>(kUnitId));
    adu += pdu;

    std::string reply;
    int err = 0;
    Attempt a = attempt(adu, reply, deadline, what, err);
    if (a == Attempt::FailedBeforeReply && reused) {
        // The unit closed the kept connection, perhaps while we looked: one fresh try.
        disconnect();
        connectFresh(deadline);
        a = attempt(adu, reply, deadline, what, err);
    }
    if (a == Attempt::FailedBeforeReply)
        fail(what, err != 0 ? std::strerror(err) : "connection closed by the unit");
    if (!replyFits(pdu, reply))
        fail(what, "reply does not fit the request");
    m_lastUsed = m_clock.now();
    return reply;
}

int16_t VARNIX::GetDirp(int32_t port, int16_t pin)
{
    int addr = 0;
    if (port == kPortA && pin >= 0 && pin < kPortAPins)
        addr = kPortADirBase + pin;
    else if (port == kPortB && pin >= 0 && pin < kPortBPins)
        addr = kPortBDirBase + pin;
    else
        badArgument("no direction at port " + std::to_string(port) + " pin " + std::to_string(pin));

    const std::string reply = exchange(request(kReadHolding, uint16_t(addr), 1), "read direction");
    if (isException(reply, kReadHolding))
        fail("read direction", exceptionText(reply));
    uint16_t value = be16(reply, 2);
    // A port-A pin configured as input is an analogue input; some units report it as 1.
    if (port == kPortA && value == 1)
        value = 2;
    return static_cast<int16_t>(value);
}

void VARNIX::SetDirp(int32_t port, int16_t pin, int32_t direction)
{
    dropSnapshots();
    int addr = 0;
    if (port == kPortA && pin >= 0 && pin < kPortAPins)
        addr = kPortADirBase + pin;
    else if (port == kPortB && pin >= 0 && pin < kPortBPins)
        addr = kPortBDirBase + pin;
    else
        badArgument("no direction at port " + std::to_string(port) + " pin " + std::to_string(pin));
    // 2 (analogue input) is what port A reads back; writing it back means input.
    if (port == kPortA && direction == 2)
        direction = 1;
    if (direction != 0 && direction != 1)
        badArgument("bad direction " + std::to_string(direction));

    const std::string reply = exchange(request(kWriteRegister, uint16_t(addr), uint16_t(direction)), "write direction");
    if (isException(reply, kWriteRegister))
        fail("write direction", exceptionText(reply));
}

int16_t VARNIX::GetAnalog(int32_t port, int16_t channel)
{
    if (port != kPortA || !isAnalogChannel(channel))
        badArgument("no analogue channel at port " + std::to_string(port) + " channel " + std::to_string(channel));

    if (m_portA && fresh(m_portA->taken))
        return static_cast<int16_t>(m_portA->regs[channel]);
    m_portA.reset();

    if (!m_portABlockRefused || !isConnected() || m_ip.trimmed().toStdString() != m_connectedIp ||
        m_parallelPort != m_connectedPort) {
        const std::string reply = exchange(request(kReadInput, 0, kPortAPins), "read analogue inputs");
        if (!isException(reply, kReadInput)) {
            PortASnapshot snap{};
            for (int i = 0; i < kPortAPins; ++i)
                snap.regs[i] = be16(reply, 2 + 2 * size_t(i));
            snap.taken = m_clock.now();
            m_portA = snap;
            return static_cast<int16_t>(snap.regs[channel]);
        }
        // A unit without register 4 may refuse the block; that reply is still in step
        // with the request, so the connection stays and we read one register instead.
        if (static_cast<uint8_t>(reply[1]) != kIllegalAddress)
            fail("read analogue inputs", exceptionText(reply));
        m_portABlockRefused = true;
    }
    const std::string reply = exchange(request(kReadInput, uint16_t(channel), 1), "read analogue input");
    if (isException(reply, kReadInput))
        fail("read analogue input", exceptionText(reply));
    return static_cast<int16_t>(be16(reply, 2));
}

int32_t VARNIX::GetPin(int32_t port, int16_t pin)
{
    if (port != kPortB || pin < 0 || pin >= kPortBPins)
        badArgument("no pin level at port " + std::to_string(port) + " pin " + std::to_string(pin));

    if (m_portB && fresh(m_portB->taken))
        return m_portB->bits[pin] ? 1 : 0;
    m_portB.reset();

    const std::string reply = exchange(request(kReadDiscrete, 0, kPortBPins), "read pin levels");
    if (isException(reply, kReadDiscrete))
        fail("read pin levels", exceptionText(reply));
    PortBSnapshot snap{};
    for (int i = 0; i < kPortBPins; ++i)
        snap.bits[i] = (static_cast<uint8_t>(reply[2]) >> i) & 1;
    snap.taken = m_clock.now();
    m_portB = snap;
    return snap.bits[pin] ? 1 : 0;
}

void VARNIX::SetPin(int32_t port, int16_t pin, int32_t level)
{
    dropSnapshots();
    int addr = 0;
    if (port == kPortA && pin >= 0 && pin < kPortAPins)
        addr = kPortACoilBase + pin;
    else if (port == kPortB && pin >= 0 && pin < kPortBPins)
        addr = kPortBCoilBase + pin;
    else
        badArgument("no output at port " + std::to_string(port) + " pin " + std::to_string(pin));

    const std::string reply =
        exchange(request(kWriteCoil, uint16_t(addr), level != 0 ? 0xFF00 : 0x0000), "write output");
    if (isException(reply, kWriteCoil))
        fail("write output", exceptionText(reply));
}
