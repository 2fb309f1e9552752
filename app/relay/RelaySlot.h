#pragma once
// One slot of the detail monitor: one unit watched on its own cycle. The slot is a state
// machine with its own busy flag, so a slow unit or server holds only its slot: a tick that
// comes while the slot works is skipped (its due time is caught up at the next tick). Stopping
// it drops its work at once: callbacks of older work find the slot's generation moved on and
// do nothing. What differs between the two sides of the relay (how a slot starts, what its
// cycle does and how an output is set) is in UploadSlot and DownloadSlot.
//
// A switch flipped while the slot works keeps the level the operator chose: the cycle does not
// overwrite it, and the output is set (or the request posted) with that level once the slot's
// work has ended.

#include "shared/MontComm1.h"
#include "relay/RelayScreen.h"
#include "shared/UnitRead.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>

class DeviceLink;
class PollEngine;
class RelayTransport;

// What a slot needs of the window's monitor, which sees all three.
class SlotHost {
public:
    virtual void screenChanged() = 0;
    // The slot's alarm was raised, acknowledged or cleared: the beeper follows all three.
    virtual void alarmChanged() = 0;
    // An error for the status bar's next turn.
    virtual void reportError(const QString& text) = 0;
    // Switch operations waiting or under way changed by delta.
    virtual void switchOpsChanged(int delta) = 0;
    // The slot other than `asking` that monitors the unit or is starting to, or -1.
    virtual int slotWatching(int unit, int asking) const = 0;

protected:
    ~SlotHost() = default;
};

class RelaySlot : public QObject {
    Q_OBJECT
public:
    static constexpr int CycleTickMs = 900;
    using Next = std::function<void()>;

    RelaySlot(int index, MontComm1& comm, PollEngine& engine, RelayTransport& transport, SlotHost& host);
    ~RelaySlot() override;

    const SlotScreen& screen() const { return m_screen; }
    bool active() const { return m_active; }
    bool working() const { return m_working; }
    int16_t alarm() const { return m_alarm; }
    bool holdsLine() const { return m_leased; }
    void setTimersEnabled(bool enabled) { m_timersEnabled = enabled; }
    // The table row of the unit chosen, or -1.
    int unitOf() const;

    // --- the window's events ---
    void select(const QStringList& names, int index);
    void OpencmdClick();
    void SwitchFlipped(int pin, bool on);
    // The beeper's reset: a raised alarm becomes acknowledged.
    void acknowledge();
    void Timer1Tick();
    void StartSlot();
    void StopSlot();

protected:
    // Side by side: how the slot gets ready, what its cycle does and how an output is set.
    virtual void prepare(std::function<void(bool)> done) = 0;
    virtual void openLink(std::function<void(bool)> done) = 0;
    virtual void cycle(Next next) = 0;
    virtual void setOutput(int pin, bool on, Next next) = 0;
    virtual void stopped() {}

    QString unitName() const;
    void setStatus(const QString& text, Tone tone);
    void warn(const QString& text, const QString& title = QString());
    bool LoadParamLine();
    void dialUp(std::function<void(bool)> done);
    // Runs then() at once over the shared folder, else once the line is up; done(false) when it
    // cannot be.
    void withLine(std::function<void()> then, std::function<void(bool)> done);
    // One exchange with the slot's unit on its lane; done(false) on a link error.
    void onUnit(std::function<void(DeviceLink&)> work, std::function<void(bool)> done);
    // The slot's unit read whole (every pin), on its lane.
    void readUnit(std::function<void(UnitReading)> done);
    void CheckDigitalAlarm(int kind, int pin, bool high);
    // Sends the abnormality mark when the cycle raised an alarm, then next.
    void postMark(Next next);
    void RevertSwitch(int pin);
    // A poll result of the slot's unit, for the MQTT feed, with the slot's own alarm.
    void reportPoll(int unit, UnitLamp lamp);
    bool flipHeld(int pin) const { return m_flipsHeld[pin] > 0; }
    uint64_t generation() const { return m_generation; }

    // Wraps a continuation of the slot's work so that it does nothing once the slot has been
    // stopped (or stopped and started again) since.
    template <class... A, class F> std::function<void(A...)> guarded(F fn)
    {
        const uint64_t generation = m_generation;
        return [this, generation, fn = std::function<void(A...)>(std::move(fn))](A... a) {
            if (m_generation == generation)
                fn(std::move(a)...);
        };
    }

    const int m_index;
    MontComm1& m_comm;
    PollEngine& m_engine;
    RelayTransport& m_transport;
    SlotHost& m_host;
    SlotScreen m_screen;
    QString m_paramLine;

private:
    void SetAlarmState(bool raise);
    void ResetSwitches();
    void ArmOutputSwitches();
    void PrepareSlotDisplay();
    void ClearSlotDisplay();
    void releaseLine();
    void beginWork();
    void endWork();
    void runCycle();
    void runFlips();
    void startTimer();
    void restartGrid();

    QTimer m_timer1;
    bool m_timersEnabled = true;
    bool m_active = false;
    int16_t m_alarm = AlarmClear;
    bool m_working = false;
    uint64_t m_generation = 0;                // moves on at every stop: older callbacks are dropped
    std::deque<std::pair<int, bool>> m_flips; // pin and the level the operator chose
    std::array<int, 8> m_flipsHeld{};         // per pin: flips queued or being carried out
    bool m_markWanted = false;                // an alarm was raised and camera folders are set
    bool m_leased = false;                    // holds a lease of the dial-up line
};
