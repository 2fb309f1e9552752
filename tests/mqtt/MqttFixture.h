#pragma once
// A real mosquitto broker on loopback with its own configuration, and a real subscriber.

#include <mosquitto.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <unistd.h>
#include <vector>

// Lets events run until done() holds; false when it did not within the limit.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 15000)
{
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

inline int freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

struct Broker {
    QTemporaryDir dir;
    int port = freePort();
    QString extra; // more configuration lines (TLS, passwords)
    QProcess process;

    QString path(const QString& name) const { return dir.filePath(name); }
    bool start()
    {
        QFile conf(path(QStringLiteral("mosquitto.conf")));
        if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        QByteArray text = "listener " + QByteArray::number(port) + " 127.0.0.1\npersistence false\n";
        if (getuid() == 0)
            text += "user root\n"; // the files are in a folder only this user can read
        text += extra.isEmpty() ? QByteArray("allow_anonymous true\n") : extra.toUtf8();
        conf.write(text);
        conf.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf.fileName()});
        if (!process.waitForStarted(5000))
            return false;
        return waitUntil([&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port));
            return probe.waitForConnected(200);
        });
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
    // Gone at once, without the tenth of a second mosquitto takes to notice a SIGTERM; to a
    // client it looks the same (its connection is closed under it).
    void kill()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished(2000);
    }
    ~Broker() { stop(); }
};

struct Received {
    std::string topic;
    QByteArray payload;
    bool retained = false;
    std::chrono::steady_clock::time_point at; // when it came in
};

// Subscribes to the given filters and keeps every message, in order of arrival.
class Subscriber {
public:
    struct Tls {
        QString caFile;
        QString user;
        QString password;
    };
    Subscriber(int port, std::vector<std::string> filters, const Tls& tls = {}) : m_filters(std::move(filters))
    {
        mosquitto_lib_init();
        m_handle = mosquitto_new(nullptr, true, this);
        if (!tls.user.isEmpty())
            mosquitto_username_pw_set(m_handle, tls.user.toUtf8().constData(), tls.password.toUtf8().constData());
        if (!tls.caFile.isEmpty())
            mosquitto_tls_set(m_handle, tls.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_connect_callback_set(m_handle, [](mosquitto* m, void* obj, int rc) {
            auto* self = static_cast<Subscriber*>(obj);
            if (rc != 0)
                return;
            for (const auto& f : self->m_filters)
                mosquitto_subscribe(m, nullptr, f.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(m_handle, [](mosquitto*, void* obj, int, int, const int*) {
            auto* self = static_cast<Subscriber*>(obj);
            std::lock_guard lock(self->m_mutex);
            ++self->m_subscribed;
        });
        mosquitto_message_callback_set(m_handle, [](mosquitto*, void* obj, const mosquitto_message* m) {
            auto* self = static_cast<Subscriber*>(obj);
            std::lock_guard lock(self->m_mutex);
            self->m_messages.push_back({m->topic, QByteArray(static_cast<const char*>(m->payload), m->payloadlen),
                                        m->retain, std::chrono::steady_clock::now()});
        });
        mosquitto_connect_async(m_handle, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_handle);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_handle);
        mosquitto_loop_stop(m_handle, true);
        mosquitto_destroy(m_handle);
    }
    bool waitSubscribed()
    {
        return waitUntil([&] {
            std::lock_guard lock(m_mutex);
            return m_subscribed >= int(m_filters.size());
        });
    }
    std::vector<Received> messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    // The last payload of each topic.
    std::map<std::string, QByteArray> latest()
    {
        std::map<std::string, QByteArray> out;
        for (const auto& m : messages())
            out[m.topic] = m.payload;
        return out;
    }
    std::vector<QByteArray> on(const std::string& topic)
    {
        std::vector<QByteArray> out;
        for (const auto& m : messages())
            if (m.topic == topic)
                out.push_back(m.payload);
        return out;
    }
    bool waitFor(const std::function<bool()>& done, int limitMs = 15000) { return waitUntil(done, limitMs); }

private:
    mosquitto* m_handle = nullptr;
    std::vector<std::string> m_filters;
    std::mutex m_mutex;
    int m_subscribed = 0;
    std::vector<Received> m_messages;
};
