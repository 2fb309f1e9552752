#include "outside/ModbusTcpClient.h"

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

constexpr uint8_t kReadDiscrete = 0x02;
constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;

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

void put16(std::string& s, uint16_t v)
{
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v & 0xFF));
}

uint16_t be16(const std::string& s, size_t at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]));
}

// Waits for fd until the deadline; false on time-out or cancel. The wait is measured by the
// client's clock, so a test clock that jumps past the deadline ends it at once; it looks at the
// cancel flag every few tens of milliseconds.
bool waitFor(int fd, short events, const MonotonicClock& clock, MonotonicClock::time_point until,
             const std::atomic<bool>* cancel)
{
    for (;;) {
        if (cancel && cancel->load())
            return false;
        const auto now = clock.now();
        if (now >= until)
            return false;
        // Rounded up: a wait never ends before its deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(std::min<long long>(left, cancel ? 50 : 60000)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return true; // let the following call report the error
    }
}

// A reply is in step with the request and of the length its function needs; the exception
// form is accepted here and left to the caller.
bool replyFits(const std::string& req, const std::string& reply)
{
    const uint8_t fc = static_cast<uint8_t>(req[0]);
    if (reply.empty())
        return false;
    if (static_cast<uint8_t>(reply[0]) == (fc | 0x80))
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

ModbusTcpClient::ModbusTcpClient(const MonotonicClock& clock) : m_clock(clock) {}

ModbusTcpClient::~ModbusTcpClient()
{
    close();
}

void ModbusTcpClient::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void ModbusTcpClient::fail(const std::string& why, bool connecting)
{
    // Whatever went wrong, the stream may now hold a reply nobody waits for.
    close();
    throw Failure(why, connecting);
}

bool ModbusTcpClient::ensureConnected(const std::string& ip, int port, TimePoint deadline)
{
    if (m_fd >= 0 && (ip != m_connectedIp || port != m_connectedPort))
        close(); // re-aimed at another unit
    if (m_fd >= 0 && m_clock.now() - m_lastUsed > std::chrono::milliseconds(kStaleMs))
        close(); // the unit may have dropped a connection idle this long
    if (m_fd >= 0 && !idleAndOpen(m_fd))
        close(); // closed by the unit, or holding bytes nobody asked for
    m_lastUsed = m_clock.now();
    if (m_fd >= 0)
        return true;
    connectFresh(ip, port, deadline);
    return false;
}

void ModbusTcpClient::connectFresh(const std::string& ip, int port, TimePoint deadline)
{
    in_addr addr{};
    if (ip.empty() || inet_pton(AF_INET, ip.c_str(), &addr) != 1)
        throw BadAddress("not a dotted IPv4 address");
    if (port <= 0 || port > 65535)
        throw BadAddress("bad TCP port " + std::to_string(port));

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail(std::strerror(errno), true);
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
        fail(err == ETIMEDOUT ? "no answer within the time-out" : std::strerror(err), true);
    }
    m_fd = fd;
    m_connectedIp = ip;
    m_connectedPort = port;
    ++m_connects;
}

ModbusTcpClient::Attempt ModbusTcpClient::attempt(const std::string& adu, std::string& reply, TimePoint deadline,
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
                fail("no answer within the time-out");
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
                fail(in.empty()          ? "no answer within the time-out"
                     : until == deadline ? "reply not complete within the time-out"
                                         : "reply broke off");
            continue;
        }
        if (n <= 0) {
            if (in.empty()) {
                err = n < 0 ? errno : 0;
                return Attempt::FailedBeforeReply;
            }
            fail(n == 0 ? "connection closed by the unit" : std::strerror(errno));
        }
        in.append(buf, size_t(n));
        until = std::min(deadline, m_clock.now() + std::chrono::milliseconds(m_byteGapMs));
        if (want == 7 && in.size() == 7) {
            if (be16(in, 0) != be16(adu, 0))
                fail("reply to another request (transaction id)");
            if (be16(in, 2) != 0)
                fail("not a Modbus reply (protocol id " + std::to_string(be16(in, 2)) + ")");
            const uint16_t len = be16(in, 4);
            if (len < 2 || len > 254)
                fail("bad reply length " + std::to_string(len));
            if (static_cast<uint8_t>(in[6]) != kUnitId)
                fail("reply from unit id " + std::to_string(static_cast<uint8_t>(in[6])));
            want = 6u + len;
        }
    }
    reply = in.substr(7);
    return Attempt::Done;
}

std::string ModbusTcpClient::exchange(const std::string& ip, int port, const std::string& pdu, int timeoutMs)
{
    const TimePoint deadline = m_clock.now() + std::chrono::milliseconds(std::max(1, timeoutMs));
    const bool reused = ensureConnected(ip, port, deadline);
    std::string adu;
    put16(adu, ++m_transaction);
    put16(adu, 0);
    put16(adu, static_cast<uint16_t>(pdu.size() + 1));
    adu.push_back(static_cast<char>(kUnitId));
    adu += pdu;

    std::string reply;
    int err = 0;
    Attempt a = attempt(adu, reply, deadline, err);
    if (a == Attempt::FailedBeforeReply && reused) {
        // The unit closed the kept connection, perhaps while we looked: one fresh try.
        close();
        connectFresh(ip, port, deadline);
        a = attempt(adu, reply, deadline, err);
    }
    if (a == Attempt::FailedBeforeReply)
        fail(err != 0 ? std::strerror(err) : "connection closed by the unit");
    if (!replyFits(pdu, reply))
        fail("reply does not fit the request");
    m_lastUsed = m_clock.now();
    return reply;
}
