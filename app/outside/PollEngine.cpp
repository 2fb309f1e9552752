#include "outside/PollEngine.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct Job {
    QString key;
    std::function<void(PollEngine::Tools&)> work;
    std::function<void()> deliver;
    bool cancelled = false;
};

} // namespace

// Lanes post their results through the gate; the engine closes it first thing when it goes,
// so a lane that finishes later never posts to an engine that is no longer there. Results that
// arrive together are handed over in one event, so a tick of many units wakes the UI thread a
// few times, not once per unit.
struct PollEngine::Gate {
    std::mutex mutex;
    PollEngine* engine = nullptr;
    std::vector<std::function<void()>> ready;

    void post(std::function<void()> deliver)
    {
        std::lock_guard lock(mutex);
        if (!engine)
            return;
        ready.push_back(std::move(deliver));
        if (ready.size() == 1)
            QMetaObject::invokeMethod(
                engine, [this] { drain(); }, Qt::QueuedConnection);
    }
    // On the engine's thread: every result in, in the order the lanes posted them.
    void drain()
    {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(ready);
        }
        for (auto& deliver : batch)
            deliver();
    }
    bool open()
    {
        std::lock_guard lock(mutex);
        return engine != nullptr;
    }
    void close()
    {
        std::lock_guard lock(mutex);
        engine = nullptr;
        ready.clear();
    }
};

struct PollEngine::Lane {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stop = false;
    QString running; // the key of the work under way, empty between works
    // Raised to end the work under way; its links and transfer watch it. Lowered, under the
    // mutex, before each work starts.
    std::atomic<bool> abort{false};
    std::thread thread;
};

namespace {

using LaneClock = std::chrono::steady_clock;

// A key's own link on its lane, and when its last work ended.
struct KeyLink {
    std::unique_ptr<DeviceLink> link;
    LaneClock::time_point lastUsed;
};

// Drops every link not used for the idle period, closing its connection, and tells when the
// next of those left comes due (max() when none is left).
LaneClock::time_point dropIdleLinks(std::map<QString, KeyLink>& links, LaneClock::duration idle)
{
    const auto now = LaneClock::now();
    auto next = LaneClock::time_point::max();
    for (auto it = links.begin(); it != links.end();) {
        if (now - it->second.lastUsed >= idle) {
            it = links.erase(it);
        } else {
            next = std::min(next, it->second.lastUsed + idle);
            ++it;
        }
    }
    return next;
}

void runLane(std::shared_ptr<PollEngine::Lane> lane, std::shared_ptr<PollEngine::Gate> gate,
             PollEngine::LinkFactory makeLink, PollEngine::TransferFactory transfers, int idleCloseMs)
{
    const auto idle = std::chrono::milliseconds(idleCloseMs);
    // Each key keeps its own link, so the connection to a unit is never handed to another unit's
    // work, even where keys share the lane. A link is dropped once unused for the idle period,
    // whatever other keys of the lane do meanwhile: the units get their sockets back.
    std::map<QString, KeyLink> links;
    std::unique_ptr<InternetTransfer> transfer;
    for (;;) {
        const auto nextDrop = dropIdleLinks(links, idle);
        std::unique_lock lock(lane->mutex);
        const auto ready = [&] { return lane->stop || !lane->jobs.empty(); };
        if (nextDrop == LaneClock::time_point::max())
            lane->wake.wait(lock, ready);
        else if (!lane->wake.wait_until(lock, nextDrop, ready))
            continue;
        if (lane->stop)
            break;
        Job job = std::move(lane->jobs.front());
        lane->jobs.pop_front();
        if (job.cancelled) { // answered at once, in its place among the key's work
            lock.unlock();
            gate->post(std::move(job.deliver));
            continue;
        }
        lane->running = job.key;
        lane->abort = false;
        lock.unlock();
        KeyLink& mine = links[job.key];
        try {
            if (!mine.link) {
                mine.link = makeLink();
                mine.link->watchCancel(&lane->abort);
            }
            if (!transfer) {
                transfer = transfers();
                transfer->CancelFlag = &lane->abort;
            }
            PollEngine::Tools tools{*mine.link, *transfer};
            job.work(tools);
        } catch (...) {
            // Work reports its own failures in its result; nothing may end the lane.
        }
        mine.lastUsed = LaneClock::now();
        if (!mine.link)
            links.erase(job.key); // the factory failed; try again next time
        {
            std::lock_guard done(lane->mutex);
            lane->running.clear();
        }
        gate->post(std::move(job.deliver));
    }
    links.clear();
    transfer.reset();
}

} // namespace

PollEngine::PollEngine(LinkFactory links, TransferFactory transfers, int maxLanes, QObject* parent)
    : QObject(parent)
    , m_links(std::move(links))
    , m_maxLanes(std::clamp(maxLanes, 1, int(MaxLanes)))
    , m_transfers(std::move(transfers))
    , m_gate(std::make_shared<Gate>())
{
    m_gate->engine = this;
}

PollEngine::~PollEngine()
{
    // Links and transfers watch the cancel flag beside their sockets, so every lane ends within
    // a few tens of milliseconds whatever a unit or server is doing, and is joined.
    m_gate->close();
    for (auto& lane : m_lanes) {
        std::lock_guard lock(lane->mutex);
        lane->stop = true;
        lane->abort = true;
        lane->jobs.clear();
        lane->wake.notify_one();
    }
    for (auto& lane : m_lanes)
        lane->thread.join();
}

PollEngine::Lane& PollEngine::laneFor(const QString& key)
{
    const auto it = m_laneOfKey.find(key);
    if (it != m_laneOfKey.end())
        return *m_lanes[it->second];
    int index;
    if (int(m_lanes.size()) < m_maxLanes) {
        auto lane = std::make_shared<Lane>();
        lane->thread = std::thread(runLane, lane, m_gate, m_links, m_transfers, m_idleCloseMs);
        m_lanes.push_back(lane);
        index = int(m_lanes.size()) - 1;
    } else {
        index = int(m_laneOfKey.size() % m_maxLanes);
    }
    m_laneOfKey.emplace(key, index);
    return *m_lanes[index];
}

void PollEngine::enqueue(const QString& key, std::function<void(Tools&)> work, std::function<void()> deliver)
{
    Lane& lane = laneFor(key);
    ++m_pending;
    auto counted = [this, deliver = std::move(deliver)] {
        --m_pending;
        deliver();
    };
    std::lock_guard lock(lane.mutex);
    lane.jobs.push_back(Job{key, std::move(work), std::move(counted)});
    lane.wake.notify_one();
}

void PollEngine::cancel(const QString& key)
{
    const auto it = m_laneOfKey.find(key);
    if (it == m_laneOfKey.end())
        return;
    Lane& lane = *m_lanes[it->second];
    std::lock_guard lock(lane.mutex);
    for (Job& job : lane.jobs)
        if (job.key == key)
            job.cancelled = true;
    if (lane.running == key)
        lane.abort = true;
}

int PollEngine::pending() const
{
    return m_pending;
}

int PollEngine::laneCount() const
{
    return int(m_lanes.size());
}
