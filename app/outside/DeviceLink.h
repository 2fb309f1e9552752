#pragma once
// The device-link control: one I/O unit reached by its address properties.
// Every failed exchange throws DeviceLinkError; call sites trap it and treat
// the unit as in communication error.

#include <QString>
#include <atomic>
#include <cstdint>
#include <stdexcept>

// The unit map the station and the link share: ports, channels and pins as the link numbers them.
namespace UnitMap {
constexpr int32_t PortA = 5; // RA0..RA3 and the temperature channel
constexpr int32_t PortB = 6; // RB0..RB7
constexpr int16_t AnalogChannels = 4;
constexpr int16_t TemperatureChannel = 5;
constexpr int16_t PortBPins = 8;
constexpr double DegreeFactor = 2.024; // raw temperature reading per degree Celsius
} // namespace UnitMap

class DeviceLinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DeviceLink {
public:
    virtual ~DeviceLink() = default;

    // Properties, written in this order before each exchange.
    virtual void setIP(const QString& ip) = 0;
    virtual void setLcdPort(int16_t port) = 0;
    virtual void setParallelPort(int16_t port) = 0;
    virtual void setSerialPort(int16_t port) = 0;
    virtual void setBaudRate(const QString& bps) = 0;
    virtual void setTimeOut(int32_t seconds) = 0;

    virtual QString IP() const = 0;
    virtual int16_t LcdPort() const = 0;
    virtual int16_t ParallelPort() const = 0;
    virtual int16_t SerialPort() const = 0;
    virtual QString BaudRate() const = 0;
    virtual int32_t TimeOut() const = 0;

    // Operations. Port 5 is port A (RA0..RA3, temperature channel 5), port 6 is port B (RB0..RB7).
    virtual int16_t GetDirp(int32_t port, int16_t pin) = 0;
    virtual void SetDirp(int32_t port, int16_t pin, int32_t direction) = 0;
    virtual int16_t GetAnalog(int32_t port, int16_t channel) = 0;
    virtual int32_t GetPin(int32_t port, int16_t pin) = 0;
    virtual void SetPin(int32_t port, int16_t pin, int32_t level) = 0;

    // A flag another thread may raise to end the exchange under way at once, as an error (the
    // station is closing). Links that never block need not watch it.
    virtual void watchCancel(const std::atomic<bool>* flag) { (void)flag; }
};
