#pragma once
// The main window's monitoring without its widgets: the monitor tick and retry pass,
// polling of units (directly or from relay files), alarms and the beeper, paging and
// the row display. The window draws what this tells its MonitorView.

#include "MontComm1.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>

class DeviceLink;
class InternetTransfer;

// Colours as blue-green-red values.
constexpr uint32_t WindowBackground = 0x80000005;
constexpr uint32_t AlarmBackground = 0x8080FF;

enum class Lamp { None, Off, On, GivenUp };

class MonitorView {
public:
    virtual ~MonitorView() = default;
    virtual void setRowName(int row, const QString& name) = 0;
    virtual void setRowBackground(int row, uint32_t colour) = 0;
    virtual void setRowLamp(int row, Lamp lamp) = 0;
    virtual void setPanel(int panel, const QString& text) = 0; // panels 1..3
    virtual QString panel(int panel) const = 0;
    virtual void setBeepResetVisible(bool visible) = 0;
    virtual void setStartCaption(const QString& caption) = 0;
    virtual void setPortSettingEnabled(bool enabled) = 0;
    virtual void beep() = 0;
};

class MonitorCycle : public QObject {
    Q_OBJECT
public:
    static constexpr int RowsPerPage = 30;

    MonitorCycle(MontComm1& comm, MonitorView& view, DeviceLink& link1, DeviceLink& link2,
                 InternetTransfer& transfer1, InternetTransfer& transfer2, QObject* parent = nullptr);

    // Window state.
    int16_t PageOffset = 0;
    int16_t RetryCursor = 0;
    std::array<QString, MontComm1::UnitSlots> ExpectedHeader;
    bool HeaderListValid = false;
    bool ModeControlsLan = true; // the system settings window's time-out group follows this

    QTimer Timer1;
    QTimer Timer2;
    QTimer BeepTimer;

    bool running() const { return Timer1.isActive(); }
    bool lanMode() const { return m_comm.InternetSettings.Mode2 != 0; }
    MontComm1& comm() { return m_comm; }

    // Activation: reload both files, rebuild the expected headers, show mode and cycle.
    void Activate();
    void ResetUnitStates();
    void RedrawRows();
    void SetModeControls(bool lan) { ModeControlsLan = lan; }

    bool PollUnit(DeviceLink& link, int unit, int32_t timeOutSeconds);
    bool ReadRelayUnit(InternetTransfer& transfer, int unit);
    bool BuildExpectedHeaders();
    bool CheckRelayHeader(const QString& text, int unit) const;

    void EvaluateAlarm(int unit);
    void SetUnitAlarm(int state, int unit);
    int NextRetryUnit();

    // Buttons and timers.
    void StartStop();    // Command2(0)
    void Page(int index); // Command1(i)
    void MonitorTick();   // Timer1
    void RetryPass();     // Timer2
    void BeepTick();      // BeepTimer
    void BeepResetClick();
    // Stops monitoring before a settings window opens; false when the operator said No.
    bool StopForWindow(bool redraw);
    // Pauses the timers around a per-unit dialog and puts them back afterwards.
    struct Paused {
        bool timer1 = false;
        bool timer2 = false;
    };
    Paused PauseForDialog();
    void ResumeAfterDialog(const Paused& was);
    // The program is ending: no handler may start another poll.
    void Shutdown();

    // The device time-out in seconds, computed without 16-bit overflow.
    int32_t TimeOutSeconds() const;
    QString CycleText() const;
    bool onPageShown(int unit) const;

private:
    void pollFailed(int unit, bool lan);
    void showGoodPoll(int unit);
    bool dueNow() const;
    void advanceDue();

    MontComm1& m_comm;
    MonitorView& m_view;
    DeviceLink& m_link1;
    DeviceLink& m_link2;
    InternetTransfer& m_transfer1;
    InternetTransfer& m_transfer2;
    bool m_tickBusy = false;
    bool m_retryBusy = false;
    bool m_shutdown = false;
};
