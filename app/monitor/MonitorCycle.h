#pragma once
// The main window's monitoring without its widgets: the monitor tick and retry pass,
// polling of units (directly or from relay files), alarms and the beeper, paging and
// the row display. The window draws the screen this keeps when its MonitorView is told.
//
// Larger than the other classes (about 750 lines) because it is one state machine: the tick,
// the retry pass, the polls under way and the alarms share its generation, the page shown and
// the held log lines, and a split would only pass them back and forth.

#include "shared/StationSize.h"
#include "shared/MontComm1.h"
#include "shared/UnitRead.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class DeviceLink;
class PollEngine;

// One relay fetch: the document, or why there is none.
struct RelayFetch {
    QString text;
    bool ok = false;
};

enum class Lamp { None, Off, On, GivenUp };
// A row's name background: the window's own, or the light red of an error or alarm.
enum class RowTone { Normal, Alert };

// What the main window shows, kept by the cycle and drawn by the window when told.
struct MonitorScreen {
    struct Row {
        QString name;
        RowTone tone = RowTone::Normal;
        Lamp lamp = Lamp::None;
    };
    std::array<Row, RowsPerPage> rows;
    std::array<QString, 3> panels; // the status bar's panels 1..3
    bool beepResetVisible = false;
    QString startCaption = QStringLiteral("開始");
    bool portSettingEnabled = true; // "ポート設定" is for LAN mode only
};

class MonitorView {
public:
    virtual ~MonitorView() = default;
    // Draw the cycle's screen() again.
    virtual void screenChanged() = 0;
    virtual void beep() = 0;
};

class MonitorCycle : public QObject {
    Q_OBJECT
public:
    // Which timer a poll belongs to: a retry pass goes on with its next unit after a good poll.
    enum class Pass { Tick, Retry };
    enum class Started { Yes, FailedAtOnce, Busy };

    MonitorCycle(MontComm1& comm, MonitorView& view, PollEngine& engine, QObject* parent = nullptr);

    // Window state, read only: the cycle keeps it.
    int pageOffset() const { return PageOffset; }
    int retryCursor() const { return RetryCursor; }
    bool headerListValid() const { return HeaderListValid; }
    bool modeControlsLan() const { return ModeControlsLan; }
    const MonitorScreen& screen() const { return m_screen; }

    QTimer Timer1;
    QTimer Timer2;
    QTimer BeepTimer;

    bool running() const { return Timer1.isActive(); }
    bool lanMode() const { return m_comm.inet().InternetSettings().Mode2 != 0; }
    MontComm1& comm() { return m_comm; }

    // Activation: reload both files, rebuild the expected headers, show mode and cycle.
    void Activate();
    void ResetUnitStates();
    // The window's load: the first page, and every unit as not yet polled.
    void LoadState();
    void RedrawRows();
    void SetModeControls(bool lan) { ModeControlsLan = lan; }

    // A poll runs on the engine; its result is applied on this thread when it arrives, unless
    // monitoring stopped or paused in the meantime. A unit already being asked is not asked again.
    Started PollUnit(int unit, int32_t timeOutSeconds, Pass pass);
    Started ReadRelayUnit(int unit, Pass pass);
    bool ApplyReading(int unit, const UnitReading& reading);
    bool ApplyRelayFetch(int unit, const RelayFetch& fetch);
    bool BuildExpectedHeaders();

    // False when the unit's alarm setting names no pin: the poll then counts as failed.
    bool EvaluateAlarm(int unit);
    enum class AlarmChange { Raise, Clear };
    void SetUnitAlarm(AlarmChange change, int unit);
    // reason: what the broker's readers are told each standing alarm ended by; none: not told.
    void ClearAllAlarms(const char* reason);
    int NextRetryUnit();

    // Buttons and timers.
    void StartStop(); // Command2(0)
    // The start of "--start": as "開始", but a refusal is shown in panel 3 and journalled
    // instead of asked about. Returns it, empty when monitoring runs.
    QString StartUnattended();
    void Page(int index); // Command1(i)
    void MonitorTick();   // Timer1
    void RetryPass();     // Timer2
    void BeepTick();      // BeepTimer
    void BeepResetClick();
    // Stops monitoring before a settings window opens; false when the operator said No.
    bool StopForWindow(bool redraw);
    // Pauses the timers around a per-unit dialog and puts them back afterwards. The dialog's
    // unit's poll under way is cancelled, so the dialog's own exchange need not wait behind it.
    struct Paused {
        bool timer1 = false;
        bool timer2 = false;
    };
    Paused PauseForDialog(int unit = -1);
    void ResumeAfterDialog(const Paused& was);
    // The program is ending: no handler may start another poll.
    void Shutdown();

    // Polls sent and not yet answered, and whether a retry pass is under way.
    int exchangesOut() const;
    bool retryRunning() const { return m_retryRunning; }
    bool inFlight(int unit) const { return m_inFlight[unit]; }

    // The device time-out in seconds, computed without 16-bit overflow.
    int32_t TimeOutSeconds() const;
    QString CycleText() const;
    bool onPageShown(int unit) const;

private:
    int16_t PageOffset = 0;
    int16_t RetryCursor = 0;
    std::array<QString, UnitSlots> ExpectedHeader;
    bool HeaderListValid = false;
    bool ModeControlsLan = true; // the system settings window's time-out group follows this
    // stale: relayed data that came but is too old.
    void pollFailed(int unit, bool lan, bool stale = false);
    void showGoodPoll(int unit);
    void showGivenUp(int unit);
    void giveUp(int unit, bool mail);
    // A good poll: the failure count goes, and a unit given up is journalled as answering again.
    void answered(int unit);
    void stopMonitoring();
    void showAlarms();
    bool dueNow() const;
    void advanceDue();
    // The tick's seconds: tick k of a run is due k seconds after its start, by the time that only
    // flows forward; its lines carry the wall-clock second it was due. Restarted with the timer.
    void anchorTicks();
    // The ticks due since the last one handled (0 for a tick off the grid, as after paging);
    // a wall clock set since is journalled and followed.
    qint64 ticksDue(QDateTime& due);
    // Results of polls sent before this call change nothing any more.
    void invalidate();
    void pollStarted(int unit, Pass pass);
    void pollEnded(int unit, Pass pass, uint64_t generation, const std::function<bool()>& apply);
    void retryNext();
    void retryEnded();
    void showActivity();
    // The data log: a unit polled at a tick gets that tick's line when the poll ends, so the
    // line holds what the unit answered; at most one line per unit and second. A monitored unit
    // has no line until it has answered since the start.
    void logLine(int unit, const QDateTime& stamp);
    void flushHeldLine(int unit);
    void cancelPoll(int unit);
    // Where a unit's relay data file is fetched: the key of its lane too.
    QString relayUrl(const QString& fileName) const;

    MontComm1& m_comm;
    MonitorView& m_view;
    MonitorScreen m_screen;
    PollEngine& m_engine;
    bool m_monitoring = false; // from a start to a stop, pauses for dialogs included
    bool m_tickBusy = false;
    bool m_shutdown = false;
    bool m_startPoll = false;
    uint64_t m_generation = 0;
    std::array<bool, UnitSlots> m_inFlight{};
    // Units journalled as given up and not yet answering again (a restart does not forget them).
    std::array<bool, UnitSlots> m_givenUp{};
    int m_tickOut = 0;
    bool m_retryRunning = false;
    bool m_activityShown = false;
    std::array<bool, UnitSlots> m_lineHeld{};
    std::array<QDateTime, UnitSlots> m_heldStamp;
    QDateTime m_anchorWall;     // when tick 0 was due, on the wall clock as last followed
    qint64 m_anchorElapsed = 0; // and on the clock that only flows forward
    qint64 m_lastTick = -1;     // the last tick handled
    QString m_panelBeforeActivity;
};
