#pragma once
// Lanes of a poll engine that all talk to one scripted control of the test, one call at a time.

#include "outside/DeviceLink.h"
#include "outside/InternetTransfer.h"

#include <memory>
#include <mutex>

class ForwardingLink : public DeviceLink {
    template <class F> auto with(F f)
    {
        std::lock_guard lock(m_mutex);
        return f();
    }

public:
    ForwardingLink(DeviceLink& target, std::mutex& mutex) : m_target(target), m_mutex(mutex) {}
    void setIP(const QString& v) override
    {
        with([&] { m_target.setIP(v); });
    }
    void setLcdPort(int16_t v) override
    {
        with([&] { m_target.setLcdPort(v); });
    }
    void setParallelPort(int16_t v) override
    {
        with([&] { m_target.setParallelPort(v); });
    }
    void setSerialPort(int16_t v) override
    {
        with([&] { m_target.setSerialPort(v); });
    }
    void setBaudRate(const QString& v) override
    {
        with([&] { m_target.setBaudRate(v); });
    }
    void setTimeOut(int32_t v) override
    {
        with([&] { m_target.setTimeOut(v); });
    }
    QString IP() const override { return m_target.IP(); }
    int16_t LcdPort() const override { return m_target.LcdPort(); }
    int16_t ParallelPort() const override { return m_target.ParallelPort(); }
    int16_t SerialPort() const override { return m_target.SerialPort(); }
    QString BaudRate() const override { return m_target.BaudRate(); }
    int32_t TimeOut() const override { return m_target.TimeOut(); }
    int16_t GetDirp(int32_t port, int16_t pin) override
    {
        return with([&] { return m_target.GetDirp(port, pin); });
    }
    void SetDirp(int32_t port, int16_t pin, int32_t d) override
    {
        with([&] { m_target.SetDirp(port, pin, d); });
    }
    int16_t GetAnalog(int32_t port, int16_t ch) override
    {
        return with([&] { return m_target.GetAnalog(port, ch); });
    }
    int32_t GetPin(int32_t port, int16_t pin) override
    {
        return with([&] { return m_target.GetPin(port, pin); });
    }
    void SetPin(int32_t port, int16_t pin, int32_t level) override
    {
        with([&] { m_target.SetPin(port, pin, level); });
    }

private:
    DeviceLink& m_target;
    std::mutex& m_mutex;
};

class ForwardingTransfer : public InternetTransfer {
public:
    ForwardingTransfer(InternetTransfer& target, std::mutex& mutex) : m_target(target), m_mutex(mutex) {}
    QString OpenURL(const QString& url) override
    {
        std::lock_guard lock(m_mutex);
        m_target.Proxy = Proxy;
        m_target.ProxyPort = ProxyPort;
        m_target.AccessType = AccessType;
        return m_target.OpenURL(url);
    }

private:
    InternetTransfer& m_target;
    std::mutex& m_mutex;
};
