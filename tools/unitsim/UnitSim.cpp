#include "UnitSim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace unitsim {

namespace {

constexpr uint8_t kIllegalFunction = 0x01;
constexpr uint8_t kIllegalAddress = 0x02;
constexpr uint8_t kIllegalValue = 0x03;
constexpr uint8_t kDeviceFailure = 0x04;

// Room temperature: 22 degrees at 2.024 raw per degree.
constexpr double kRawPerDegree = 2.024;
constexpr int kDriftAnalog = 8;
constexpr int kDriftTemp = 4;           // about two degrees either way
constexpr size_t kMaxInput = 64 * 1024; // a client flooding a mute unit is cut off
// Replies queued for a client that does not read them: past this, its requests wait in the
// kernel until it reads, so memory stays bounded whatever the client does.
constexpr size_t kMaxQueued = 64 * 1024;
constexpr size_t kMaxControlLine = 4096;
constexpr auto kAcceptRest = std::chrono::milliseconds(100);

// epoll tags: connections carry their Conn address, everything else a marker.
constexpr uint64_t kTagStop = uint64_t(1) << 62;
constexpr uint64_t kTagControl = kTagStop + 1;
constexpr uint64_t kTagListener = uint64_t(1) << 61; // + unit index

uint16_t be16(const std::string& s, size_t at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]));
}

void put16(std::string& s, uint16_t v)
{
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v & 0xFF));
}

bool setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags != -1 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1;
}

bool parseInt(const std::string& text, long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

} // namespace

void UnitState::reset(int unitIndex)
{
    for (int ch = 0; ch < 4; ++ch)
        base[ch] = static_cast<uint16_t>(200 + 150 * ch + (unitIndex * 7) % 50);
    base[4] = 0;
    base[5] = static_cast<uint16_t>(std::lround(22.0 * kRawPerDegree));
    for (int ch = 0; ch < kInputRegs; ++ch) {
        input[ch] = base[ch];
        pinned[ch] = false;
    }
    // Port A pins start as analogue inputs, port B pins as inputs.
    for (int r = 0; r < kHolding; ++r)
        holding[r] = r < 6 ? 2 : (r < 8 ? 0 : 1);
    for (auto& c : coil)
        c = 0;
    for (int p = 0; p < kDiscrete; ++p)
        inputLevel[p] = static_cast<uint8_t>((p + unitIndex) % 3 == 0);
}

bool UnitState::discrete(int pin) const
{
    // An output pin shows what its coil drives; an input pin what is applied to it.
    return holding[8 + pin] == 0 ? coil[pin] != 0 : inputLevel[pin] != 0;
}

void UnitState::drift(std::mt19937& rng)
{
    std::uniform_int_distribution<int> step(-1, 1);
    for (int ch = 0; ch < kInputRegs; ++ch) {
        if (ch == 4 || pinned[ch])
            continue;
        const int span = ch == 5 ? kDriftTemp : kDriftAnalog;
        int v = input[ch] + step(rng);
        if (v < base[ch] - span)
            v = base[ch] - span;
        if (v > base[ch] + span)
            v = base[ch] + span;
        input[ch] = static_cast<uint16_t>(v < 0 ? 0 : v);
    }
}

std::string exceptionPdu(uint8_t function, uint8_t code)
{
    std::string r;
    r.push_back(static_cast<char>(function | 0x80));
    r.push_back(static_cast<char>(code));
    return r;
}

std::string handlePdu(UnitState& u, const std::string& pdu)
{
    const uint8_t fc = static_cast<uint8_t>(pdu[0]);
    if (fc != 1 && fc != 2 && fc != 3 && fc != 4 && fc != 5 && fc != 6)
        return exceptionPdu(fc, kIllegalFunction);
    if (pdu.size() != 5)
        return exceptionPdu(fc, kIllegalValue);
    const uint16_t addr = be16(pdu, 1);
    const uint16_t arg = be16(pdu, 3);
    std::string r;
    r.push_back(static_cast<char>(fc));

    switch (fc) {
    case 1:
    case 2: {
        const int limit = fc == 1 ? UnitState::kCoils : UnitState::kDiscrete;
        if (arg < 1 || arg > 2000)
            return exceptionPdu(fc, kIllegalValue);
        if (addr + arg > limit)
            return exceptionPdu(fc, kIllegalAddress);
        const int bytes = (arg + 7) / 8;
        r.push_back(static_cast<char>(bytes));
        for (int b = 0; b < bytes; ++b) {
            uint8_t v = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int i = b * 8 + bit;
                if (i >= arg)
                    break;
                const bool on = fc == 1 ? u.coil[addr + i] != 0 : u.discrete(addr + i);
                if (on)
                    v |= static_cast<uint8_t>(1u << bit);
            }
            r.push_back(static_cast<char>(v));
        }
        return r;
    }
    case 3:
    case 4: {
        const int limit = fc == 3 ? UnitState::kHolding : UnitState::kInputRegs;
        if (arg < 1 || arg > 125)
            return exceptionPdu(fc, kIllegalValue);
        if (addr + arg > limit)
            return exceptionPdu(fc, kIllegalAddress);
        r.push_back(static_cast<char>(arg * 2));
        for (int i = 0; i < arg; ++i)
            put16(r, fc == 3 ? u.holding[addr + i] : u.input[addr + i]);
        return r;
    }
    case 5: {
        const bool portB = addr < 8;
        const bool portA = addr >= 16 && addr < UnitState::kCoils;
        if (!portA && !portB)
            return exceptionPdu(fc, kIllegalAddress);
        if (arg != 0xFF00 && arg != 0x0000)
            return exceptionPdu(fc, kIllegalValue);
        u.coil[addr] = arg == 0xFF00;
        return pdu;
    }
    case 6: {
        if (addr >= UnitState::kHolding || addr == 6 || addr == 7)
            return exceptionPdu(fc, kIllegalAddress);
        if (arg > (addr < 6 ? 2 : 1))
            return exceptionPdu(fc, kIllegalValue);
        // Port A pins are analogue inputs when set to input and say so.
        u.holding[addr] = (addr < 6 && arg != 0) ? 2 : arg;
        return pdu;
    }
    }
    return exceptionPdu(fc, kIllegalFunction);
}

bool Server::listenUnit(Unit& u, int port, std::string& error)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, u.ip.c_str(), &sa.sin_addr) != 1) {
        close(fd);
        error = "bad address " + u.ip;
        return false;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == -1 || listen(fd, 64) == -1 || !setNonBlocking(fd)) {
        error = u.ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    u.listenFd = fd;
    watch(fd, kTagListener + static_cast<uint64_t>(&u - m_units.data()), EPOLLIN, EPOLL_CTL_ADD);
    return true;
}

void Server::watch(int fd, uint64_t tag, uint32_t events, int op)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    epoll_ctl(m_epfd, op, fd, &ev);
}

bool Server::start(int units, const std::string& first, int port, std::string& error)
{
    m_epfd = epoll_create1(EPOLL_CLOEXEC);
    if (m_epfd == -1) {
        error = std::string("epoll: ") + std::strerror(errno);
        return false;
    }
    in_addr a{};
    if (inet_pton(AF_INET, first.c_str(), &a) != 1) {
        error = "bad address " + first;
        return false;
    }
    const uint32_t host = ntohl(a.s_addr);
    if (units < 1 || uint64_t(host) + uint64_t(units) - 1 > 0xFFFFFFFFu) {
        error = std::to_string(units) + " units from " + first + " run past 255.255.255.255";
        return false;
    }
    m_units.assign(static_cast<size_t>(units), Unit{});
    for (int i = 0; i < units; ++i) {
        in_addr ai{};
        ai.s_addr = htonl(host + static_cast<uint32_t>(i));
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &ai, text, sizeof text);
        m_units[i].ip = text;
        m_units[i].state.reset(i);
    }

    // Port 0 means any free port below 32768: the device table keeps ports as int16, and
    // the kernel's own choice would come from the ephemeral range above that. Every unit
    // must get the same port; if one address has it taken, try another.
    std::uniform_int_distribution<int> pick(20000, 32767);
    for (int attempt = 0; attempt < (port == 0 ? 200 : 1); ++attempt) {
        m_port = port == 0 ? pick(m_rng) : port;
        bool all = true;
        for (int i = 0; i < units && all; ++i)
            all = listenUnit(m_units[i], m_port, error);
        if (all)
            return true;
        for (int i = 0; i < units; ++i)
            closeUnit(i);
    }
    return false;
}

void Server::closeUnit(int unitIndex)
{
    Unit& u = m_units[unitIndex];
    if (u.listenFd != -1) {
        close(u.listenFd);
        u.listenFd = -1;
    }
    for (auto& c : m_conns)
        if (c->unit == unitIndex)
            closeConn(*c);
}

void Server::closeConn(Conn& c)
{
    if (c.fd != -1) {
        epoll_ctl(m_epfd, EPOLL_CTL_DEL, c.fd, nullptr);
        close(c.fd);
        c.fd = -1;
    }
    c.pending.clear();
    c.pendingBytes = 0;
    c.out.clear();
    c.in.clear();
}

void Server::accept(int unitIndex)
{
    Unit& u = m_units[unitIndex];
    for (;;) {
        const int fd = accept4(u.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd == -1) {
            // Out of descriptors or memory the listener stays readable: rest instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                restAccepting(unitIndex);
            return;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        c->unit = unitIndex;
        watch(fd, reinterpret_cast<uintptr_t>(c.get()), EPOLLIN, EPOLL_CTL_ADD);
        m_conns.push_back(std::move(c));
    }
}

void Server::restAccepting(int unitIndex)
{
    Unit& u = m_units[unitIndex];
    epoll_ctl(m_epfd, EPOLL_CTL_DEL, u.listenFd, nullptr);
    u.acceptResting = true;
    u.acceptRestUntil = Clock::now() + kAcceptRest;
}

void Server::resumeAccepting(Clock::time_point now)
{
    for (auto& u : m_units) {
        if (!u.acceptResting || u.acceptRestUntil > now)
            continue;
        u.acceptResting = false;
        if (u.listenFd != -1)
            watch(u.listenFd, kTagListener + static_cast<uint64_t>(&u - m_units.data()), EPOLLIN, EPOLL_CTL_ADD);
    }
}

void Server::updateWatch(Conn& c)
{
    if (c.fd == -1)
        return;
    if (c.closing && c.out.empty() && c.pending.empty()) {
        closeConn(c);
        return;
    }
    uint32_t events = 0;
    if (!c.closing && c.out.size() + c.pendingBytes < kMaxQueued)
        events |= EPOLLIN;
    if (!c.out.empty())
        events |= EPOLLOUT;
    if (events != c.watched) {
        c.watched = events;
        watch(c.fd, reinterpret_cast<uintptr_t>(&c), events, EPOLL_CTL_MOD);
    }
}

void Server::queueReply(Conn& c, const Unit& u, std::string adu)
{
    if (u.trickleMs > 0) {
        auto due = Clock::now() + std::chrono::milliseconds(u.slowMs);
        if (!c.pending.empty() && c.pending.back().due > due)
            due = c.pending.back().due + std::chrono::milliseconds(u.trickleMs);
        for (char b : adu) {
            c.pending.push_back({due, std::string(1, b)});
            due += std::chrono::milliseconds(u.trickleMs);
        }
        c.pendingBytes += adu.size();
    } else if (u.slowMs > 0 || !c.pending.empty()) {
        c.pendingBytes += adu.size();
        c.pending.push_back({Clock::now() + std::chrono::milliseconds(u.slowMs), std::move(adu)});
    } else {
        c.out += adu;
    }
}

void Server::readConn(Conn& c)
{
    char buf[4096];
    while (!c.closing && c.out.size() + c.pendingBytes < kMaxQueued) {
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n == -1 && errno == EINTR)
            continue;
        if (n == -1 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            if (n == -1) {
                closeConn(c); // reset: nobody is left to answer
                return;
            }
            c.closing = true; // half-closed: answer what came, then close
            break;
        }
        c.in.append(buf, static_cast<size_t>(n));
        if (c.in.size() > kMaxInput) {
            closeConn(c);
            return;
        }
        if (c.in.size() >= 7 + 254)
            break; // enough for a frame; the rest waits for its turn
    }

    Unit& u = m_units[c.unit];
    // MBAP header: transaction id, protocol id 0, length of unit id + PDU, unit id.
    while (c.in.size() >= 7 && c.out.size() + c.pendingBytes < kMaxQueued) {
        const uint16_t tid = be16(c.in, 0);
        const uint16_t proto = be16(c.in, 2);
        const uint16_t len = be16(c.in, 4);
        if (proto != 0 || len < 2 || len > 254) {
            // Not Modbus TCP; there is no way to find the next frame. Frames before it
            // are still answered.
            c.in.clear();
            c.closing = true;
            break;
        }
        if (c.in.size() < 6u + len)
            break;
        const uint8_t unitId = static_cast<uint8_t>(c.in[6]);
        const std::string pdu = c.in.substr(7, len - 1u);
        c.in.erase(0, 6u + len);
        if (u.mode == Mode::Mute)
            continue;
        const std::string reply = u.mode == Mode::Exception ? exceptionPdu(static_cast<uint8_t>(pdu[0]), kDeviceFailure)
                                                            : handlePdu(u.state, pdu);
        std::string adu;
        put16(adu, tid);
        put16(adu, 0);
        put16(adu, static_cast<uint16_t>(reply.size() + 1));
        adu.push_back(static_cast<char>(u.wrongUnit ? (unitId == 5 ? 0 : 5) : unitId));
        adu += reply;
        queueReply(c, u, std::move(adu));
        if (u.closeEach) {
            c.in.clear();
            c.closing = true;
            break;
        }
    }
    if (c.closing)
        c.in.clear();
    flushConn(c);
}

void Server::flushConn(Conn& c)
{
    while (c.fd != -1 && !c.out.empty()) {
        const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(0, static_cast<size_t>(n));
        } else if (n == -1 && errno == EINTR) {
            continue;
        } else if (n == -1 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            closeConn(c);
        }
    }
    updateWatch(c);
}

void Server::serviceDue(Clock::time_point now)
{
    for (auto& c : m_conns) {
        bool moved = false;
        while (c->fd != -1 && !c->pending.empty() && c->pending.front().due <= now) {
            c->out += c->pending.front().bytes;
            c->pendingBytes -= c->pending.front().bytes.size();
            c->pending.pop_front();
            moved = true;
        }
        if (moved) {
            flushConn(*c);
            // Room again: requests held back while the queue was full are read now.
            if (c->fd != -1 && !c->in.empty())
                readConn(*c);
        }
    }
}

std::string Server::control(const std::string& line, bool& quit)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string t; in >> t;)
        w.push_back(t);
    if (w.empty())
        return "error: empty line";
    if (w[0] == "quit" && w.size() == 1) {
        quit = true;
        return "ok";
    }
    if (w[0] != "ain" && w[0] != "din" && w[0] != "fault")
        return "error: unknown command " + w[0];
    long unit = 0;
    if (w.size() < 3 || !parseInt(w[1], unit))
        return "error: expected ain U CH VALUE, din U PIN 0|1, fault U MODE or quit";
    if (unit < 0 || unit >= static_cast<long>(m_units.size()))
        return "error: no unit " + w[1];
    Unit& u = m_units[static_cast<size_t>(unit)];

    if (w[0] == "ain") {
        long ch = 0, value = 0;
        if (w.size() != 4 || !parseInt(w[2], ch) || !parseInt(w[3], value))
            return "error: expected ain U CH VALUE";
        if (ch < 0 || ch > 5 || ch == 4)
            return "error: channel must be 0..3 or 5";
        if (value < -32768 || value > 65535)
            return "error: value must fit 16 bits";
        u.state.input[ch] = static_cast<uint16_t>(value);
        u.state.pinned[ch] = true;
        return "ok";
    }
    if (w[0] == "din") {
        long pin = 0, level = 0;
        if (w.size() != 4 || !parseInt(w[2], pin) || !parseInt(w[3], level))
            return "error: expected din U PIN 0|1";
        if (pin < 0 || pin > 7)
            return "error: pin must be 0..7";
        if (level != 0 && level != 1)
            return "error: level must be 0 or 1";
        u.state.inputLevel[pin] = static_cast<uint8_t>(level);
        return "ok";
    }
    if (w[0] == "fault") {
        const std::string& m = w[2];
        long ms = 0;
        if (m == "slow" || m == "trickle") {
            if (w.size() != 4 || !parseInt(w[3], ms) || ms < 0 || ms > 600000)
                return "error: expected fault U " + m + " MS (0..600000)";
        } else if (w.size() != 3 || (m != "down" && m != "mute" && m != "exception" && m != "up" && m != "closeeach" &&
                                     m != "wrongunit")) {
            return "error: expected fault U down|mute|exception|closeeach|wrongunit|up or fault U slow|trickle MS";
        }
        if (m == "down") {
            closeUnit(static_cast<int>(unit));
            u.mode = Mode::Down;
            return "ok";
        }
        if (u.listenFd == -1) {
            std::string err;
            if (!listenUnit(u, m_port, err))
                return "error: cannot listen again: " + err;
        }
        // Each fault line replaces the unit's earlier behaviour.
        u.mode = Mode::Normal;
        u.slowMs = 0;
        u.trickleMs = 0;
        u.closeEach = false;
        u.wrongUnit = false;
        if (m == "mute") {
            u.mode = Mode::Mute;
            // A mute unit answers nothing, not even what it was about to send.
            for (auto& c : m_conns)
                if (c->unit == unit) {
                    c->pending.clear();
                    c->pendingBytes = 0;
                }
        } else if (m == "exception") {
            u.mode = Mode::Exception;
        } else if (m == "slow") {
            u.slowMs = static_cast<int>(ms);
        } else if (m == "trickle") {
            u.trickleMs = static_cast<int>(ms);
        } else if (m == "closeeach") {
            u.closeEach = true;
        } else if (m == "wrongunit") {
            u.wrongUnit = true;
        }
        return "ok";
    }
    return "error: unknown command " + w[0];
}

int Server::run(int controlFd, int stopFd)
{
    std::string pendingLine;
    bool skippingLine = false;
    auto nextDrift = Clock::now() + m_driftPeriod;
    watch(stopFd, kTagStop, EPOLLIN, EPOLL_CTL_ADD);
    watch(controlFd, kTagControl, EPOLLIN, EPOLL_CTL_ADD);
    epoll_event events[64];

    for (;;) {
        std::erase_if(m_conns, [](const std::unique_ptr<Conn>& c) { return c->fd == -1; });
        auto wake = nextDrift;
        for (const auto& c : m_conns)
            if (!c->pending.empty() && c->pending.front().due < wake)
                wake = c->pending.front().due;
        for (const auto& u : m_units)
            if (u.acceptResting && u.acceptRestUntil < wake)
                wake = u.acceptRestUntil;
        const auto now = Clock::now();
        const int timeout =
            wake <= now
                ? 0
                : static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() + 1);

        const int n = epoll_wait(m_epfd, events, 64, timeout);
        if (n == -1 && errno != EINTR)
            return 1;

        for (int k = 0; k < n; ++k) {
            const uint64_t tag = events[k].data.u64;
            if (tag == kTagStop)
                return 0;
            if (tag == kTagControl) {
                char buf[1024];
                const ssize_t r = read(controlFd, buf, sizeof buf);
                if (r <= 0) {
                    // Tests may close standard input; the units keep serving.
                    if (r == 0 || errno != EINTR)
                        epoll_ctl(m_epfd, EPOLL_CTL_DEL, controlFd, nullptr);
                    continue;
                }
                pendingLine.append(buf, static_cast<size_t>(r));
                if (pendingLine.find('\n') == std::string::npos && pendingLine.size() > kMaxControlLine) {
                    // No command is this long: say so once and drop the rest of the line.
                    if (!skippingLine) {
                        const std::string answer = "error: line too long\n";
                        (void)!write(STDOUT_FILENO, answer.data(), answer.size());
                    }
                    skippingLine = true;
                    pendingLine.clear();
                    continue;
                }
                size_t nl;
                while ((nl = pendingLine.find('\n')) != std::string::npos) {
                    std::string line = pendingLine.substr(0, nl);
                    pendingLine.erase(0, nl + 1);
                    if (skippingLine) {
                        skippingLine = false; // the tail of a line already refused
                        continue;
                    }
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    bool quit = false;
                    const std::string answer = control(line, quit) + "\n";
                    (void)!write(STDOUT_FILENO, answer.data(), answer.size());
                    if (quit)
                        return 0;
                }
            } else if (tag >= kTagListener && tag < kTagListener + m_units.size()) {
                const int u = static_cast<int>(tag - kTagListener);
                if (m_units[u].listenFd != -1)
                    accept(u);
            } else {
                Conn& c = *reinterpret_cast<Conn*>(static_cast<uintptr_t>(tag));
                if (c.fd == -1)
                    continue; // closed earlier in this batch
                if (events[k].events & EPOLLIN)
                    readConn(c);
                else if (events[k].events & (EPOLLHUP | EPOLLERR))
                    closeConn(c); // gone both ways while nothing was to be read
                if (c.fd != -1 && (events[k].events & EPOLLOUT))
                    flushConn(c);
            }
        }

        const auto after = Clock::now();
        serviceDue(after);
        resumeAccepting(after);
        if (after >= nextDrift) {
            for (auto& u : m_units)
                u.state.drift(m_rng);
            nextDrift = after + m_driftPeriod;
        }
    }
}

} // namespace unitsim
