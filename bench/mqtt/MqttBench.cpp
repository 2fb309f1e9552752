// The MQTT feed on 100 simulated units at a 1 s cycle, on real timers: poll result to subscriber,
// the UI thread's added time, tick lateness with the broker down against no MQTT (same run), and
// three stations (300 units) into one broker.

#include "platform/Clock.h"
#include "FakeTransfer.h"
#include "monitor/MontAll.h"
#include "MqttFixture.h"
#include "outside/MqttPublisher.h"
#include "outside/PollEngine.h"
#include "ScriptedMessageBox.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>

namespace {

using Steady = std::chrono::steady_clock;
constexpr int Units = 100;

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Notes when each state was handed over, to match it at the subscriber.
class TimedPublisher : public MqttPublisher {
public:
    explicit TimedPublisher(std::unique_ptr<MqttPublisher> inner) : m_inner(std::move(inner)) {}
    void publish(const QString& topic, const QByteArray& payload, int qos, bool retain) override
    {
        if (retain)
            handed[topic.toStdString() + '\n' + payload.toStdString()] = Steady::now();
        m_inner->publish(topic, payload, qos, retain);
    }
    std::map<std::string, Steady::time_point> handed;

private:
    std::unique_ptr<MqttPublisher> m_inner;
};

MqttEndpoint endpoint(int port, const QString& prefix)
{
    MqttEndpoint e;
    e.host = QStringLiteral("127.0.0.1");
    e.port = port;
    e.statusTopic = prefix + QStringLiteral("/status");
    return e;
}

// A station on the real clock and timers, monitoring the simulator's units.
struct LiveStation {
    QTemporaryDir dir;
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm{dir.path(), messages, clock};
    PollEngine engine{[] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); }};
    WindowOpener opener;
    std::unique_ptr<MontAll> window;
    std::vector<double> tickGapsMs;
    QElapsedTimer sinceTick;

    LiveStation(const UnitSimProcess& sim, std::unique_ptr<MqttPublisher> publisher, const QString& prefix)
    {
        QList<UnitRow> rows = simulatedRows(sim, Units, QStringLiteral("unit"));
        for (UnitRow& r : rows)
            r.pins = QStringLiteral("Ain,Ain,Ain,Ain,Din,Din,Din,Din,Dout,Dout,Dout,Dout");
        TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(rows, 1, "s", 2, "s", 1, 3));
        TextFile::writeWhole(comm.path("InetInf.ini"), inetInfText(1, {}));
        window = std::make_unique<MontAll>(comm, engine, opener);
        window->Load();
        window->show();
        if (publisher)
            comm.mqtt().setPublisher(std::move(publisher), prefix);
        QObject::connect(&window->cycle().Timer1, &QTimer::timeout, [this] {
            if (sinceTick.isValid())
                tickGapsMs.push_back(std::abs(sinceTick.nsecsElapsed() / 1e6 - 1000));
            sinceTick.restart();
        });
    }
    void start() { window->cycle().StartStop(); }
    void stop() { window->cycle().StartStop(); }
};

void runFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct Lateness {
    double tickMedian = 0, tickWorst = 0, stallWorst = 0;
};

Lateness measure(LiveStation& st, int seconds)
{
    double stall = 0;
    QElapsedTimer since;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        stall = std::max(stall, since.nsecsElapsed() / 1e6 - 5);
        since.restart();
    });
    st.start();
    since.start();
    probe.start();
    runFor(seconds * 1000);
    probe.stop();
    st.stop();
    return {percentile(st.tickGapsMs, 0.5), percentile(st.tickGapsMs, 1.0), stall};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UnitSimProcess sim(Units);
    Broker broker;
    if (!sim.running() || !broker.start()) {
        std::fprintf(stderr, "mqtt_bench: the simulator or the broker did not start\n");
        return 1;
    }
    const int seconds = 10;

    // 1. One station publishing: latency and the UI thread's added time.
    std::vector<double> latencyMs;
    double addedMedian = 0, addedP99 = 0, feedOnly = 0;
    {
        const QString prefix = QStringLiteral("bench/one");
        Subscriber sub(broker.port, {prefix.toStdString() + "/units/+/state"});
        sub.waitSubscribed();
        auto timed =
            std::make_unique<TimedPublisher>(std::make_unique<MosquittoPublisher>(endpoint(broker.port, prefix)));
        TimedPublisher& handed = *timed;
        LiveStation st(sim, std::move(timed), prefix);
        measure(st, seconds);
        runFor(500);
        for (const Received& m : sub.messages()) {
            const auto it = handed.handed.find(m.topic + '\n' + m.payload.toStdString());
            if (it != handed.handed.end())
                latencyMs.push_back(std::chrono::duration<double, std::milli>(m.at - it->second).count());
        }
        // What a tick's 100 poll results add on the UI thread: the feed builds and hands over each state.
        auto ticks = [&](bool letEventsRun) {
            std::vector<double> added;
            for (int round = 0; round < 300; ++round) {
                QElapsedTimer t;
                t.start();
                for (int u = 0; u < Units; ++u)
                    st.comm.mqtt().unitPolled(u, UnitLamp::Good);
                added.push_back(t.nsecsElapsed() / 1e6);
                if (letEventsRun)
                    runFor(2);
            }
            return added;
        };
        const std::vector<double> added = ticks(true);
        addedMedian = percentile(added, 0.5);
        addedP99 = percentile(added, 0.99);
        // The same with a publisher that drops everything: the feed's own share.
        struct Nothing : MqttPublisher {
            void publish(const QString&, const QByteArray&, int, bool) override {}
        };
        st.comm.mqtt().setPublisher(std::make_unique<Nothing>(), prefix);
        feedOnly = percentile(ticks(false), 0.5);
    }

    // 2. Tick lateness with no MQTT and with the broker down, in turns.
    Lateness none, down;
    {
        LiveStation a(sim, nullptr, QString());
        none = measure(a, seconds);
        MqttEndpoint dead = endpoint(freePort(), QStringLiteral("bench/down"));
        LiveStation b(sim, std::make_unique<MosquittoPublisher>(dead), QStringLiteral("bench/down"));
        down = measure(b, seconds);
    }

    // 3. Three stations, 300 units, one broker: every unit's state each second.
    int unitsSeen = 0, everySecond = 0;
    double worstGapMs = 0;
    {
        Subscriber sub(broker.port, {"bench/site/+/units/+/state"});
        sub.waitSubscribed();
        std::vector<std::unique_ptr<LiveStation>> stations;
        for (int i = 0; i < 3; ++i) {
            const QString prefix = QStringLiteral("bench/site/st%1").arg(i);
            stations.push_back(std::make_unique<LiveStation>(
                sim, std::make_unique<MosquittoPublisher>(endpoint(broker.port, prefix)), prefix));
        }
        for (auto& s : stations)
            s->start();
        const Steady::time_point begun = Steady::now();
        runFor(seconds * 1000);
        for (auto& s : stations)
            s->stop();
        // A second-by-second count splits on tick jitter; the gap between two states of a unit does not.
        std::map<std::string, std::vector<Steady::time_point>> arrivals;
        for (const Received& m : sub.messages())
            if (m.at - begun > std::chrono::seconds(2))
                arrivals[m.topic].push_back(m.at);
        unitsSeen = int(arrivals.size());
        for (auto& [topic, times] : arrivals) {
            double worst = 0;
            for (size_t i = 1; i < times.size(); ++i)
                worst = std::max(worst, std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
            worstGapMs = std::max(worstGapMs, worst);
            everySecond += worst < 1500;
        }
    }

    std::printf("MQTT feed, %d units at a 1 s cycle, local broker, real timers, %d s per run:\n", Units, seconds);
    std::printf("  poll result -> subscriber: median %.2f ms, p99 %.2f ms (%zu states matched)\n",
                percentile(latencyMs, 0.5), percentile(latencyMs, 0.99), latencyMs.size());
    std::printf("  UI thread, added per tick (100 poll results): median %.3f ms, p99 %.3f ms (target < 1 ms);"
                " of which the JSON %.3f ms\n",
                addedMedian, addedP99, feedOnly);
    std::printf("  tick lateness, no MQTT:     median %.2f ms, worst %.2f ms; UI thread stalled at most %.2f ms\n",
                none.tickMedian, none.tickWorst, none.stallWorst);
    std::printf("  tick lateness, broker down: median %.2f ms, worst %.2f ms; UI thread stalled at most %.2f ms"
                " (worst ratio to no MQTT %.2f)\n",
                down.tickMedian, down.tickWorst, down.stallWorst,
                none.tickWorst > 0 ? down.tickWorst / none.tickWorst : 0);
    std::printf("  three stations, %d units, one broker: %d units seen, %d with a state at least every 1.5 s;"
                " longest gap between two states of a unit %.0f ms\n",
                3 * Units, unitsSeen, everySecond, worstGapMs);
    return 0;
}
