#pragma once
// Test suites that share one simulator: started before the suite's first test, every unit put
// back to normal before each test, stopped after the last test.
//
//   struct Units2 { static constexpr int Count = 2; static constexpr const char* First = "127.0.0.11"; };
//   class VARNIXTest : public SimulatorSuite<Units2> {};

#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <memory>
#include <modbus.h>
#include <string>

template <class Units> class SimulatorSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_sim = std::make_unique<UnitSimProcess>(Units::Count, Units::First); }
    static void TearDownTestSuite() { s_sim.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s_sim && s_sim->running()) << (s_sim ? s_sim->error() : std::string());
        for (int u = 0; u < Units::Count; ++u)
            ASSERT_TRUE(s_sim->ok("fault " + std::to_string(u) + " up"));
    }
    static UnitSimProcess& sim() { return *s_sim; }

private:
    inline static std::unique_ptr<UnitSimProcess> s_sim;
};

// A standard Modbus TCP client on one simulated unit, closed and freed with the object.
class ModbusClient {
public:
    ModbusClient(const UnitSimProcess& sim, int unit) : m_ctx(modbus_new_tcp(sim.ip(unit).c_str(), sim.port()))
    {
        if (!m_ctx)
            return;
        modbus_set_slave(m_ctx, 1);
        modbus_set_response_timeout(m_ctx, 1, 0);
        m_connected = modbus_connect(m_ctx) == 0;
    }
    ~ModbusClient()
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }
    ModbusClient(const ModbusClient&) = delete;
    ModbusClient& operator=(const ModbusClient&) = delete;
    bool connected() const { return m_connected; }
    modbus_t* operator*() { return m_ctx; }

private:
    modbus_t* m_ctx;
    bool m_connected = false;
};
