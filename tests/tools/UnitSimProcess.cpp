#include "UnitSimProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

std::string UnitSimProcess::binaryPath()
{
    return TALVERON_UNITSIM_PATH;
}

UnitSimProcess::UnitSimProcess(int units, const std::string& first, const std::vector<std::string>& options)
    : m_units(units)
    , m_first(first)
{
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) == -1 || pipe2(out, O_CLOEXEC) == -1) {
        m_error = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    const std::string path = binaryPath();
    const std::string n = std::to_string(units);
    std::vector<const char*> argv = {path.c_str(), "--units", n.c_str(), "--first", first.c_str(), "--port", "0"};
    for (const std::string& option : options)
        argv.push_back(option.c_str());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        // Dies with the test even when the test is killed.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_toChild = in[1];
    m_fromChild = out[0];
    if (m_pid < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        return;
    }

    for (int i = 0; i < units; ++i) {
        std::string line;
        if (!readLine(line, 10000)) {
            m_error = "simulator " + path + " gave no ready line for unit " + std::to_string(i);
            return;
        }
        const auto colon = line.rfind(':');
        if (line.rfind("ready ", 0) != 0 || colon == std::string::npos) {
            m_error = "unexpected line from simulator: " + line;
            return;
        }
        m_port = static_cast<int16_t>(std::stoi(line.substr(colon + 1)));
    }
    m_ready = true;
}

UnitSimProcess::~UnitSimProcess()
{
    stop();
}

std::string UnitSimProcess::ip(int unit) const
{
    in_addr a{};
    inet_pton(AF_INET, m_first.c_str(), &a);
    a.s_addr = htonl(ntohl(a.s_addr) + static_cast<uint32_t>(unit));
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool UnitSimProcess::readLine(std::string& line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || m_fromChild == -1)
            return false;
        pollfd p{m_fromChild, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r == -1 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char buf[512];
        const ssize_t n = read(m_fromChild, buf, sizeof buf);
        if (n <= 0)
            return false;
        m_buffer.append(buf, static_cast<size_t>(n));
    }
}

std::string UnitSimProcess::send(const std::string& line, int timeoutMs)
{
    if (m_toChild == -1)
        return {};
    const std::string text = line + "\n";
    if (write(m_toChild, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return {};
    std::string answer;
    return readLine(answer, timeoutMs) ? answer : std::string();
}

void UnitSimProcess::stop()
{
    if (m_pid > 0) {
        if (m_toChild != -1)
            (void)!write(m_toChild, "quit\n", 5);
        bool gone = false;
        for (int i = 0; i < 100 && !gone; ++i) {
            gone = waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!gone)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!gone) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    if (m_toChild != -1)
        close(m_toChild);
    if (m_fromChild != -1)
        close(m_fromChild);
    m_toChild = m_fromChild = -1;
    m_ready = false;
}

void UnitSimProcess::closeInput()
{
    if (m_toChild != -1)
        close(m_toChild);
    m_toChild = -1;
}

int UnitSimProcess::terminate(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_ready = false;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}
