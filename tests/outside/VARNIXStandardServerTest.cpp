// The device link against a Modbus TCP server that is not ours: libmodbus's own server
// with the unit map laid out in its register tables.

#include "outside/VARNIX.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class StandardServer {
public:
    StandardServer()
    {
        map = modbus_mapping_new(32, 8, 16, 6);
        // A port below 32768: the device table keeps ports as int16.
        for (int candidate = 20000 + (getpid() % 10000); candidate < 32768 && listenFd < 0; candidate += 7) {
            ctx = modbus_new_tcp("127.0.0.1", candidate);
            listenFd = modbus_tcp_listen(ctx, 1);
            if (listenFd < 0) {
                modbus_free(ctx);
                ctx = nullptr;
            } else {
                port = candidate;
            }
        }
        thread = std::thread([this] { serve(); });
    }
    ~StandardServer()
    {
        stop = true;
        ::shutdown(listenFd, SHUT_RDWR);
        if (clientFd >= 0)
            ::shutdown(clientFd, SHUT_RDWR);
        thread.join();
        ::close(listenFd);
        modbus_free(ctx);
        modbus_mapping_free(map);
    }

    modbus_mapping_t* map = nullptr;
    int port = 0;

private:
    void serve()
    {
        while (!stop) {
            int fd = listenFd;
            clientFd = modbus_tcp_accept(ctx, &fd);
            if (clientFd < 0)
                return;
            uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            for (;;) {
                const int n = modbus_receive(ctx, query);
                if (n < 0)
                    break;
                if (n > 0)
                    modbus_reply(ctx, query, n, map);
            }
            ::close(clientFd);
            clientFd = -1;
        }
    }

    modbus_t* ctx = nullptr;
    int listenFd = -1;
    std::atomic<int> clientFd{-1};
    std::atomic<bool> stop{false};
    std::thread thread;
};

} // namespace

TEST(VARNIXStandardServer, FollowsTheMapAgainstAServerNotOurs)
{
    StandardServer server;
    ASSERT_GT(server.port, 0);
    for (int c = 0; c < 6; ++c)
        server.map->tab_input_registers[c] = uint16_t(100 + c);
    server.map->tab_input_bits[3] = 1;

    VARNIX link;
    link.setIP("127.0.0.1");
    link.setLcdPort(0);
    link.setParallelPort(int16_t(server.port));
    link.setSerialPort(0);
    link.setBaudRate("9600");
    link.setTimeOut(1);
    EXPECT_EQ(link.GetAnalog(5, 0), 100);
    EXPECT_EQ(link.GetAnalog(5, 3), 103);
    EXPECT_EQ(link.GetAnalog(5, 5), 105);
    EXPECT_EQ(link.GetPin(6, 3), 1);
    EXPECT_EQ(link.GetPin(6, 2), 0);

    link.SetDirp(6, 4, 0);
    EXPECT_EQ(server.map->tab_registers[8 + 4], 0);
    link.SetDirp(6, 5, 1);
    EXPECT_EQ(server.map->tab_registers[8 + 5], 1);
    EXPECT_EQ(link.GetDirp(6, 5), 1);
    link.SetDirp(5, 2, 1);
    EXPECT_EQ(link.GetDirp(5, 2), 2); // a plain server stores 1; an analogue input reads back as 2

    link.SetPin(6, 7, 1);
    EXPECT_EQ(server.map->tab_bits[7], 1);
    link.SetPin(5, 1, 1);
    EXPECT_EQ(server.map->tab_bits[16 + 1], 1);
    link.SetPin(6, 7, 0);
    EXPECT_EQ(server.map->tab_bits[7], 0);

    EXPECT_THROW(link.GetPin(6, 8), DeviceLinkError);
}
