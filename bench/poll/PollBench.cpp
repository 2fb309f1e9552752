// Poll benchmark: one poll read set (5 analogue readings, 8 pin levels) for each of 100
// simulated units per pass, through the device link and through plain libmodbus.
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kUnits = 100;
constexpr int16_t kChannels[] = {0, 1, 2, 3, 5};

using Clock = std::chrono::steady_clock;

long checksum = 0; // keeps the reads from being optimised away and shows they happened

void aim(VARNIX& link, const UnitSimProcess& sim, int unit)
{
    link.setIP(QString::fromStdString(sim.ip(unit)));
    link.setLcdPort(0);
    link.setParallelPort(sim.port());
    link.setSerialPort(0);
    link.setBaudRate("9600");
    link.setTimeOut(2);
}

void pollSet(VARNIX& link)
{
    for (int16_t c : kChannels)
        checksum += link.GetAnalog(5, c);
    for (int16_t p = 0; p < 8; ++p)
        checksum += link.GetPin(6, p);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double timeMs(const std::function<void()>& pass)
{
    const auto t0 = Clock::now();
    pass();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    UnitSimProcess sim(kUnits, "127.0.2.1");
    if (!sim.running()) {
        std::fprintf(stderr, "poll bench: %s\n", sim.error().c_str());
        return 1;
    }

    std::vector<std::unique_ptr<VARNIX>> perUnit;
    for (int u = 0; u < kUnits; ++u)
        perUnit.push_back(std::make_unique<VARNIX>());
    VARNIX single;

    std::vector<modbus_t*> raw;
    for (int u = 0; u < kUnits; ++u) {
        modbus_t* ctx = modbus_new_tcp(sim.ip(u).c_str(), sim.port());
        modbus_set_slave(ctx, 1);
        if (!ctx || modbus_connect(ctx) == -1) {
            std::fprintf(stderr, "poll bench: cannot connect to unit %d\n", u);
            return 1;
        }
        raw.push_back(ctx);
    }

    int errors = 0;
    auto ourPerUnit = [&] {
        for (int u = 0; u < kUnits; ++u) {
            try {
                aim(*perUnit[u], sim, u);
                pollSet(*perUnit[u]);
            } catch (const DeviceLinkError&) {
                ++errors;
            }
        }
    };
    auto ourSingle = [&] {
        for (int u = 0; u < kUnits; ++u) {
            try {
                aim(single, sim, u);
                pollSet(single);
            } catch (const DeviceLinkError&) {
                ++errors;
            }
        }
    };
    auto raw13 = [&] {
        for (modbus_t* ctx : raw) {
            uint16_t r;
            uint8_t b;
            for (int16_t c : kChannels) {
                errors += modbus_read_input_registers(ctx, c, 1, &r) != 1;
                checksum += r;
            }
            for (int p = 0; p < 8; ++p) {
                errors += modbus_read_input_bits(ctx, p, 1, &b) != 1;
                checksum += b;
            }
        }
    };
    auto raw2 = [&] {
        for (modbus_t* ctx : raw) {
            uint16_t r[6];
            uint8_t b[8];
            errors += modbus_read_input_registers(ctx, 0, 6, r) != 6;
            errors += modbus_read_input_bits(ctx, 0, 8, b) != 8;
            for (int c : kChannels)
                checksum += r[c];
            for (int p = 0; p < 8; ++p)
                checksum += b[p];
        }
    };

    // Warm up once, then interleave the four cases so drift in the machine's load hits all alike.
    ourPerUnit();
    ourSingle();
    raw13();
    raw2();
    std::vector<double> a, b, c, d;
    const int singleConnectsBefore = single.connectCount();
    for (int i = 0; i < passes; ++i) {
        a.push_back(timeMs(ourPerUnit));
        b.push_back(timeMs(ourSingle));
        c.push_back(timeMs(raw13));
        d.push_back(timeMs(raw2));
    }
    int perUnitConnects = 0;
    for (auto& l : perUnit)
        perUnitConnects += l->connectCount();

    const double ma = median(a), mb = median(b), mc = median(c), md = median(d);
    std::printf("poll of %d units, %d passes, median ms per pass\n", kUnits, passes);
    std::printf("  link, one instance per unit     %8.2f ms   %.2fx floor\n", ma, ma / md);
    std::printf("  link, one instance re-aimed     %8.2f ms   %.2fx floor\n", mb, mb / md);
    std::printf("  libmodbus, 13 requests per unit %8.2f ms   %.2fx floor\n", mc, mc / md);
    std::printf("  libmodbus, 2 requests per unit  %8.2f ms   (floor)\n", md);
    std::printf("  connections opened: per-unit links %d in all, re-aimed link %d during the timed passes\n",
                perUnitConnects, single.connectCount() - singleConnectsBefore);
    std::printf("  errors %d, checksum %ld\n", errors, checksum);

    for (modbus_t* ctx : raw) {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    return errors == 0 ? 0 : 1;
}
