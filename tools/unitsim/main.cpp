// talveron-unitsim: simulated I/O units on loopback addresses for tests, demos and installers.
#include "ArgNumber.h"
#include "UnitSim.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onSignal(int)
{
    const char b = 1;
    (void)!write(stopPipe[1], &b, 1);
}

const char* const Usage = "usage: talveron-unitsim [--units N] [--first IP] [--port PORT] [--drift-ms MS]\n"
                          "  N units (1..250, default 1) on consecutive addresses from IP (default 127.0.0.11),\n"
                          "  all on PORT (default 1502; 0 picks a free one below 32768); analogue inputs drift\n"
                          "  a step every MS milliseconds (1..3600000, default 1000)\n";

int usage(const char* why)
{
    std::fprintf(stderr, "talveron-unitsim: %s\n%s", why, Usage);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    long units = 1, port = 1502, driftMs = unitsim::Server::kDriftPeriodMs;
    std::string first = "127.0.0.11";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return usage(("missing value after " + a).c_str());
        const char* v = argv[++i];
        if (a == "--units") {
            if (!argNumber(v, 1, 250, units))
                return usage("--units takes 1..250");
        } else if (a == "--first") {
            first = v;
        } else if (a == "--port") {
            if (!argNumber(v, 0, 65535, port))
                return usage("--port takes 0..65535");
        } else if (a == "--drift-ms") {
            if (!argNumber(v, 1, 3600000, driftMs))
                return usage("--drift-ms takes 1..3600000");
        } else {
            return usage(("unknown option " + a).c_str());
        }
    }

    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) == -1)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    unitsim::Server server;
    server.setDriftPeriodMs(static_cast<int>(driftMs));
    std::string error;
    if (!server.start(static_cast<int>(units), first, static_cast<int>(port), error)) {
        std::fprintf(stderr, "talveron-unitsim: cannot listen: %s\n", error.c_str());
        return 1;
    }
    std::string ready;
    for (const auto& u : server.units())
        ready += "ready " + u.ip + ":" + std::to_string(server.port()) + "\n";
    (void)!write(STDOUT_FILENO, ready.data(), ready.size());

    return server.run(STDIN_FILENO, stopPipe[0]);
}
