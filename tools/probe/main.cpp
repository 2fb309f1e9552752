// talveron-probe: reads one unit through the device link, for installers checking a unit
// before they register it.
#include "ArgNumber.h"
#include "outside/VARNIX.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int usage(const std::string& why)
{
    std::fprintf(stderr,
                 "talveron-probe: %s\n"
                 "usage: talveron-probe [--wait-ms MS] IP PORT [TIMEOUT]\n"
                 "  PORT is the unit's IO port (1..32767); TIMEOUT in seconds, 0 (default) a short wait\n"
                 "  of MS milliseconds (1..86400000, default 1000)\n",
                 why.c_str());
    return 2;
}

void line(std::string& out, const std::string& name, long value)
{
    out += name + " " + std::to_string(value) + "\n";
}

} // namespace

int main(int argc, char** argv)
{
    VARNIX::Timings timings;
    if (argc > 1 && std::string(argv[1]) == "--wait-ms") {
        long ms = 0;
        if (argc < 3 || !argNumber(argv[2], 1, 86400000, ms))
            return usage("--wait-ms takes 1..86400000");
        timings.zeroTimeOutMs = static_cast<int>(ms);
        argc -= 2;
        argv += 2;
    }
    if (argc < 3 || argc > 4)
        return usage("expected IP and PORT");
    long port = 0, timeOut = 0;
    if (!argNumber(argv[2], 1, 32767, port))
        return usage(std::string("bad port ") + argv[2]);
    if (argc == 4 && !argNumber(argv[3], 0, 86400, timeOut))
        return usage(std::string("bad time-out ") + argv[3]);

    VARNIX link(SteadyClock::instance(), timings);
    link.setIP(QString::fromLocal8Bit(argv[1]));
    link.setLcdPort(0);
    link.setParallelPort(static_cast<int16_t>(port));
    link.setSerialPort(0);
    link.setBaudRate(QString());
    link.setTimeOut(static_cast<int32_t>(timeOut));

    // Everything is read before anything is printed, so a failing unit prints no half report.
    std::string out;
    try {
        for (int16_t p = 0; p <= 5; ++p)
            line(out, "DIRA" + std::to_string(p), link.GetDirp(UnitMap::PortA, p));
        for (int16_t p = 0; p <= 7; ++p)
            line(out, "DIRB" + std::to_string(p), link.GetDirp(UnitMap::PortB, p));
        for (int16_t c = 0; c <= 3; ++c)
            line(out, "RA" + std::to_string(c), link.GetAnalog(UnitMap::PortA, c));
        const int16_t raw = link.GetAnalog(UnitMap::PortA, UnitMap::TemperatureChannel);
        // Halves to even, as the data log rounds.
        const long degrees = std::lrint(raw / UnitMap::DegreeFactor);
        out += "TEMP " + std::to_string(raw) + " " + std::to_string(degrees) + "\n";
        for (int16_t p = 0; p <= 7; ++p)
            line(out, "RB" + std::to_string(p), link.GetPin(UnitMap::PortB, p) != 0 ? 1 : 0);
    } catch (const DeviceLinkError& e) {
        std::fprintf(stderr, "talveron-probe: the unit at %s port %ld does not answer (%s)\n", argv[1], port, e.what());
        return 1;
    }
    std::fputs(out.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
