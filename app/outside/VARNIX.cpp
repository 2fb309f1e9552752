#include "VARNIX.h"

#include <modbus.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <cerrno>

namespace {

constexpr int kPortA = 5;
constexpr int kPortB = 6;
// Port A: RA0..RA3 and the temperature channel 5; pin 4 carries only a direction.
constexpr int kPortAPins = 6;
constexpr int kPortBPins = 8;
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

bool isAnalogChannel(int channel) { return (channel >= 0 && channel <= 3) || channel == 5; }

} // namespace

VARNIX::VARNIX() = default;

VARNIX::~VARNIX()
{
    disconnect();
    for (auto& [key, p] : parked_) {
        modbus_close(p.ctx);
        modbus_free(p.ctx);
    }
}

void VARNIX::setIP(const QString& ip)
{
    ip_ = ip;
    dropSnapshots();
}

void VARNIX::setLcdPort(int16_t port)
{
    lcdPort_ = port;
    dropSnapshots();
}

void VARNIX::setParallelPort(int16_t port)
{
    parallelPort_ = port;
    dropSnapshots();
}

void VARNIX::setSerialPort(int16_t port)
{
    serialPort_ = port;
    dropSnapshots();
}

void VARNIX::setBaudRate(const QString& bps)
{
    baudRate_ = bps;
    dropSnapshots();
}

void VARNIX::setTimeOut(int32_t seconds)
{
    timeOut_ = seconds;
    dropSnapshots();
}

int VARNIX::timeoutMs() const
{
    if (timeOut_ <= 0)
        return kZeroTimeOutMs;
    // Keep the product inside int; no unit wait needs more than a day.
    const int32_t capped = timeOut_ > 86400 ? 86400 : timeOut_;
    return capped * 1000;
}

std::string VARNIX::target() const
{
    return ip_.toStdString() + ":" + std::to_string(parallelPort_);
}

bool VARNIX::fresh(Clock::time_point taken) const
{
    return Clock::now() - taken < std::chrono::milliseconds(kSnapshotAgeMs);
}

void VARNIX::dropSnapshots()
{
    portA_.reset();
    portB_.reset();
}

void VARNIX::disconnect()
{
    if (ctx_) {
        modbus_close(ctx_);
        modbus_free(ctx_);
        ctx_ = nullptr;
    }
    portABlockRefused_ = false;
    dropSnapshots();
}

void VARNIX::park()
{
    // Only a connection whose last exchange went well is kept: nothing can be in flight on it.
    parked_[connectedIp_ + ":" + std::to_string(connectedPort_)] = {ctx_, portABlockRefused_, lastUsed_};
    ctx_ = nullptr;
    portABlockRefused_ = false;
}

void VARNIX::closeIdle()
{
    const auto limit = Clock::now() - std::chrono::milliseconds(kIdleCloseMs);
    for (auto it = parked_.begin(); it != parked_.end();) {
        if (it->second.lastUsed < limit) {
            modbus_close(it->second.ctx);
            modbus_free(it->second.ctx);
            it = parked_.erase(it);
        } else {
            ++it;
        }
    }
}

void VARNIX::fail(const std::string& what, int err)
{
    // Whatever went wrong, the stream may now hold a reply nobody waits for.
    disconnect();
    throw DeviceLinkError(target() + ": " + what + ": " + modbus_strerror(err));
}

void VARNIX::badArgument(const std::string& what)
{
    dropSnapshots();
    throw DeviceLinkError(target() + ": " + what);
}

void VARNIX::ensureConnected()
{
    const std::string ip = ip_.trimmed().toStdString();
    const int port = parallelPort_;
    if (ctx_ && (ip != connectedIp_ || port != connectedPort_))
        park();
    if (!ctx_) {
        closeIdle();
        const auto it = parked_.find(ip + ":" + std::to_string(port));
        if (it != parked_.end()) {
            ctx_ = it->second.ctx;
            portABlockRefused_ = it->second.portABlockRefused;
            connectedIp_ = ip;
            connectedPort_ = port;
            parked_.erase(it);
        }
    }
    if (ctx_ && Clock::now() - lastUsed_ > std::chrono::milliseconds(kIdleCloseMs))
        disconnect(); // the unit may have dropped a connection idle this long
    if (ctx_ && !idleAndOpen(modbus_get_socket(ctx_)))
        disconnect(); // closed by the unit, or holding bytes nobody asked for
    lastUsed_ = Clock::now();

    const int ms = timeoutMs();
    const uint32_t sec = static_cast<uint32_t>(ms / 1000);
    const uint32_t usec = static_cast<uint32_t>(ms % 1000) * 1000;
    if (ctx_) {
        modbus_set_response_timeout(ctx_, sec, usec);
        return;
    }

    in_addr addr{};
    if (ip.empty() || inet_pton(AF_INET, ip.c_str(), &addr) != 1)
        badArgument("not a dotted IPv4 address");
    if (port <= 0)
        badArgument("bad TCP port " + std::to_string(port));

    modbus_t* ctx = modbus_new_tcp(ip.c_str(), port);
    if (!ctx)
        badArgument(std::string("cannot create link: ") + modbus_strerror(errno));
    modbus_set_slave(ctx, kUnitId);
    // libmodbus bounds the TCP connect by the response time-out as well.
    modbus_set_response_timeout(ctx, sec, usec);
    modbus_set_byte_timeout(ctx, 0, 500000);
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    if (modbus_connect(ctx) == -1) {
        const int err = errno;
        modbus_free(ctx);
        fail("connect", err);
    }
    ctx_ = ctx;
    connectedIp_ = ip;
    connectedPort_ = port;
    portABlockRefused_ = false;
    ++connects_;
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

    ensureConnected();
    uint16_t value = 0;
    if (modbus_read_registers(ctx_, addr, 1, &value) != 1)
        fail("read direction", errno);
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

    ensureConnected();
    if (modbus_write_register(ctx_, addr, static_cast<uint16_t>(direction)) != 1)
        fail("write direction", errno);
}

int16_t VARNIX::GetAnalog(int32_t port, int16_t channel)
{
    if (port != kPortA || !isAnalogChannel(channel))
        badArgument("no analogue channel at port " + std::to_string(port) + " channel " +
                    std::to_string(channel));

    if (portA_ && fresh(portA_->taken))
        return static_cast<int16_t>(portA_->regs[channel]);
    portA_.reset();

    ensureConnected();
    if (!portABlockRefused_) {
        PortASnapshot snap{};
        if (modbus_read_input_registers(ctx_, 0, kPortAPins, snap.regs) == kPortAPins) {
            snap.taken = Clock::now();
            portA_ = snap;
            return static_cast<int16_t>(snap.regs[channel]);
        }
        // A unit without register 4 may refuse the block; that reply is still in step
        // with the request, so the connection stays and we read one register instead.
        if (errno != EMBXILADD)
            fail("read analogue inputs", errno);
        portABlockRefused_ = true;
    }
    uint16_t value = 0;
    if (modbus_read_input_registers(ctx_, channel, 1, &value) != 1)
        fail("read analogue input", errno);
    return static_cast<int16_t>(value);
}

int32_t VARNIX::GetPin(int32_t port, int16_t pin)
{
    if (port != kPortB || pin < 0 || pin >= kPortBPins)
        badArgument("no pin level at port " + std::to_string(port) + " pin " + std::to_string(pin));

    if (portB_ && fresh(portB_->taken))
        return portB_->bits[pin] ? 1 : 0;
    portB_.reset();

    ensureConnected();
    PortBSnapshot snap{};
    if (modbus_read_input_bits(ctx_, 0, kPortBPins, snap.bits) != kPortBPins)
        fail("read pin levels", errno);
    snap.taken = Clock::now();
    portB_ = snap;
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

    ensureConnected();
    if (modbus_write_bit(ctx_, addr, level != 0 ? 1 : 0) != 1)
        fail("write output", errno);
}
