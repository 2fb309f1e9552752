#include "outside/VARNIX.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string>

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

bool isException(const std::string& reply, uint8_t function)
{
    return static_cast<uint8_t>(reply[0]) == (function | 0x80);
}

// The names the station has always given exception codes, odd ones included, so its messages and
// logs read as before.
std::string exceptionName(uint8_t code)
{
    static const char* const names[] = {nullptr,
                                        "Illegal function",
                                        "Illegal data address",
                                        "Illegal data value",
                                        "Slave device or server failure",
                                        "Acknowledge",
                                        "Slave device or server is busy",
                                        "Negative acknowledge",
                                        "Memory parity error",
                                        nullptr,
                                        "Gateway path unavailable",
                                        "Target device failed to respond",
                                        "Invalid CRC",
                                        "Invalid data",
                                        "Invalid exception code",
                                        nullptr,
                                        "Too many data",
                                        "Response not from requested slave"};
    if (code < std::size(names) && names[code])
        return names[code];
    return "Unknown error " + std::to_string(112345678 + code);
}

std::string exceptionText(const std::string& reply)
{
    const uint8_t code = static_cast<uint8_t>(reply[1]);
    return "unit answered exception " + std::to_string(code) + " (" + exceptionName(code) + ")";
}

} // namespace

VARNIX::VARNIX(const MonotonicClock& clock) : VARNIX(clock, Timings()) {}

VARNIX::VARNIX(const MonotonicClock& clock, const Timings& timings)
    : m_clock(clock)
    , m_timings(timings)
    , m_client(clock)
{
    m_timings.timeOutUnitMs = std::max(1, m_timings.timeOutUnitMs);
    m_client.setByteGapMs(m_timings.byteGapMs);
}

VARNIX::~VARNIX() = default;

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
        return m_timings.zeroTimeOutMs;
    // Keep the product inside int; no unit wait needs more than a day.
    const int64_t capped = m_timeOut > 86400 ? 86400 : m_timeOut;
    return int(std::min<int64_t>(capped * m_timings.timeOutUnitMs, std::numeric_limits<int>::max()));
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
    m_client.close();
    dropSnapshots();
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

bool VARNIX::portABlockRefusedHere() const
{
    return m_portABlockRefusedOn == m_client.connectCount() &&
           m_client.isConnectedTo(m_ip.trimmed().toStdString(), m_parallelPort);
}

std::string VARNIX::exchange(const std::string& pdu, const std::string& what)
{
    try {
        return m_client.exchange(m_ip.trimmed().toStdString(), m_parallelPort, pdu, timeoutMs());
    } catch (const ModbusTcpClient::BadAddress& e) {
        badArgument(e.what());
    } catch (const ModbusTcpClient::Failure& e) {
        fail(e.connecting() ? "connect" : what, e.what());
    }
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

    if (!portABlockRefusedHere()) {
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
        m_portABlockRefusedOn = m_client.connectCount();
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
