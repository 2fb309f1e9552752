#pragma once
// Runs unit exchanges and relay fetches off the UI thread, many units at once.
//
// Work is queued on a lane chosen by a key (a unit's "ip:port", or a relay file's URL). Each lane
// is one worker thread that owns a device link per key it serves and one transfer control, so a
// unit's connection is only ever used by one thread, and the requests for one key run in the
// order they were given. A new key gets a lane of its own until MaxLanes exist (or the smaller
// limit given); after that keys share lanes, each still with its own link. The lane is the one
// owner of a link's life: it makes the key's link on first use and drops any link unused for
// IdleCloseMs (or the period set), closing its connection.
//
// Results come back on the thread that owns the engine (the UI thread) as queued events, and
// only while the context object given with the work still exists.
//
// Destroying the engine drops queued work, cancels the exchanges under way (links and transfers
// watch their lane's cancel flag) and joins every lane: it returns within about a hundred
// milliseconds whatever a unit or server is doing.

#include "outside/DeviceLink.h"
#include "outside/InternetTransfer.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class PollEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxLanes = 128;
    static constexpr int IdleCloseMs = 5000;

    using LinkFactory = std::function<std::unique_ptr<DeviceLink>()>;
    using TransferFactory = std::function<std::unique_ptr<InternetTransfer>()>;

    // What a lane lends the work it runs: the key's own link, and the lane's transfer.
    struct Tools {
        DeviceLink& link;
        InternetTransfer& transfer;
    };

    // maxLanes below MaxLanes serialises more keys on fewer threads (1: everything in order).
    PollEngine(LinkFactory links, TransferFactory transfers, int maxLanes = MaxLanes, QObject* parent = nullptr);
    ~PollEngine() override;
    PollEngine(const PollEngine&) = delete;
    PollEngine& operator=(const PollEngine&) = delete;

    // Runs work(tools) on the key's lane; done(result) follows on this engine's thread while
    // context lives. Work must not touch anything the UI thread owns: give it copies.
    template <class Result>
    void submit(const QString& key, QObject* context, std::function<Result(Tools&)> work,
                std::function<void(Result)> done)
    {
        auto result = std::make_shared<Result>();
        QPointer<QObject> guard(context);
        enqueue(
            key, [work = std::move(work), result](Tools& tools) { *result = work(tools); },
            [guard, result, done = std::move(done)] {
                if (guard)
                    done(std::move(*result));
            });
    }

    // Ends the key's work given so far: what is queued is dropped, what runs is cancelled as the
    // engine's end would (its link or transfer reports an error). Each still gets its done(),
    // with whatever its work returned or a default result; work given later runs as usual.
    void cancel(const QString& key);

    // Exchanges queued or running, over all lanes.
    int pending() const;
    // Threads started so far (for tests and the benchmark).
    int laneCount() const;
    // How long a link may go unused before its lane drops it; lanes started later use it.
    void setIdleCloseMs(int ms) { m_idleCloseMs = std::max(1, ms); }

    struct Lane;
    struct Gate;

private:
    void enqueue(const QString& key, std::function<void(Tools&)> work, std::function<void()> deliver);
    Lane& laneFor(const QString& key);

    LinkFactory m_links;
    int m_maxLanes;
    int m_idleCloseMs = IdleCloseMs;
    TransferFactory m_transfers;
    std::vector<std::shared_ptr<Lane>> m_lanes;
    std::map<QString, int> m_laneOfKey;
    std::shared_ptr<Gate> m_gate;
    int m_pending = 0;
};
