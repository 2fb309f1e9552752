#pragma once
// A scripted Modbus TCP unit on loopback for tests of the device link and the poll engine.

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// A one-thread Modbus TCP server whose replies a test writes. The script gets the request
// (MBAP header included) and the how-many-th request of its connection this is (from 0),
// and returns the bytes to send; an empty answer closes the connection unanswered.
class ScriptedUnit {
public:
    using Script = std::function<std::string(const std::string& request, int nthOnConnection)>;

    explicit ScriptedUnit(Script script, int backlog = 8) : m_script(std::move(script))
    {
        for (int candidate = 21000 + (getpid() * 13) % 9000; candidate < 32768 && m_fd < 0; candidate += 11) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(uint16_t(candidate));
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && ::listen(fd, backlog) == 0) {
                m_fd = fd;
                port = candidate;
            } else {
                ::close(fd);
            }
        }
        if (m_script)
            m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedUnit()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    // Connections accepted so far, and open now (one at a time: the next waits in the queue).
    int connections() const { return m_connections; }
    int open() const { return m_open; }

    int port = 0;

private:
    static bool readable(int fd, int ms)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }
    void serve()
    {
        while (!m_stop) {
            if (!readable(m_fd, 50))
                continue;
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                continue;
            ++m_connections;
            ++m_open;
            std::string in;
            int nth = 0;
            bool open = true;
            while (open && !m_stop) {
                if (!readable(c, 50))
                    continue;
                char buf[512];
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                in.append(buf, size_t(n));
                while (in.size() >= 12) {
                    const std::string reply = m_script(in.substr(0, 12), nth++);
                    in.erase(0, 12);
                    if (reply.empty()) {
                        open = false;
                        break;
                    }
                    ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
            ::close(c);
            --m_open;
        }
    }

    Script m_script;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_open{0};
    std::thread m_thread;
};
