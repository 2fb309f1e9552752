// One monitor tick of the main window over 100 simulated units, all due at once, data log
// lines included, against the 2-request libmodbus floor for the same units; and the
// station's resident memory.

#include "FakeTransfer.h"
#include "MontAll.h"
#include "PollEngine.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "VARNIX.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <modbus.h>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int units = 100, rounds = 30;
    UnitSimProcess sim(units);
    if (!sim.running()) {
        std::fprintf(stderr, "tick_bench: simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }

    Station st;
    QList<UnitRow> rows;
    for (int u = 0; u < units; ++u) {
        UnitRow r;
        r.name = QStringLiteral("unit%1").arg(u);
        r.ip = QString::fromStdString(sim.ip(u));
        r.port = sim.port();
        r.pins = QStringLiteral("Ain,Ain,Ain,Ain,Din,Din,Din,Din,Dout,Dout,Dout,Dout");
        rows << r;
    }
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows));
    TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(1, {}));
    VARNIX link1;
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); });
    WindowOpener opener;
    MontAll window(st.comm, engine, link1, opener);
    window.Load();
    window.show();
    MonitorCycle& cycle = window.cycle();
    cycle.StartStop();
    cycle.Timer1.stop(); // ticks are run by hand below; keep the timers out of the figures
    cycle.Timer2.stop();

    std::vector<double> tickMs;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        st.clock.advance(1); // every unit is due
        QElapsedTimer t;
        cycle.Timer1.start();
        t.start();
        cycle.MonitorTick();
        while (cycle.exchangesOut() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        tickMs.push_back(t.nsecsElapsed() / 1e6);
        cycle.Timer1.stop();
        for (int u = 0; u < units; ++u)
            failed += st.comm.unitItem(ItemFailureCount, u) != -1;
    }

    std::vector<modbus_t*> raw;
    for (int u = 0; u < units; ++u) {
        modbus_t* ctx = modbus_new_tcp(sim.ip(u).c_str(), sim.port());
        modbus_set_slave(ctx, 1);
        if (modbus_connect(ctx) == -1) {
            std::fprintf(stderr, "tick_bench: libmodbus connect failed\n");
            return 1;
        }
        raw.push_back(ctx);
    }
    std::vector<double> floorMs;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        for (modbus_t* ctx : raw) {
            uint16_t r[6];
            uint8_t b[8];
            failed += modbus_read_input_registers(ctx, 0, 6, r) != 6;
            failed += modbus_read_input_bits(ctx, 0, 8, b) != 8;
        }
        floorMs.push_back(t.nsecsElapsed() / 1e6);
    }
    for (modbus_t* ctx : raw) {
        modbus_close(ctx);
        modbus_free(ctx);
    }

    const double tick = median(tickMs), floor = median(floorMs);
    std::printf("monitor tick, %d units, LAN mode, data log included (median of %d):\n", units, rounds);
    std::printf("  MontAll tick                     %8.2f ms   %.2fx floor\n", tick, tick / floor);
    std::printf("  libmodbus, 2 requests per unit   %8.2f ms   (floor)\n", floor);
    std::printf("  resident memory of the station   %8.1f MB\n", residentKb() / 1024.0);
    if (failed)
        std::printf("  (%d failed polls or reads)\n", failed);
    return failed ? 1 : 0;
}
