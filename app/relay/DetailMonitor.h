#pragma once
// What the detail monitor window does, without its widgets: three slots, each watching one
// unit on its own cycle. On the upload side a slot polls its unit, writes and sends the unit's
// relay data file and carries out output requests; on the download side it reads the relay
// data file and posts output requests. The window draws Screen and forwards its clicks.
//
// Unit exchanges and fetches run on the poll engine's lanes and are waited for in local event
// loops; FTP sends wait inside FtpUploadFile. Because the upload state is single, one slot's
// work runs at a time: a tick that comes while work runs is skipped (its due time is caught up
// at the next tick), and a click is queued until the work ends.

#include "FtpClient.h"
#include "MontComm1.h"
#include "RelayText.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <memory>

class PollEngine;

enum class Tone { Window, Good, Bad }; // window colour, light green, light red
enum class Led { Empty, On, Off, Wait };

struct SlotScreen {
    QStringList names; // the selector's list
    int index = -1;    // the selected unit, -1 for none
    bool selectorEnabled = true;
    bool selectorAlert = false; // light red while the slot's alarm is raised
    QString ip;
    QString openCaption = QStringLiteral("接続");
    QString status = QStringLiteral("切断");
    Tone statusTone = Tone::Window;
    std::array<QString, 5> values; // RA0..RA3, temperature
    std::array<bool, 5> valueActive{};
    std::array<Led, 8> inputLed{};
    std::array<Led, 8> outputLed{};
    std::array<bool, 8> ledAlarm{}; // pure red behind the LED of the pin that raised the alarm
    std::array<bool, 8> switchOn{};
    std::array<bool, 8> switchArmed{}; // orange: an output of an active slot
    bool busy = false;
};

class DetailMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr int Slots = 3;
    static constexpr int CycleTickMs = 900;
    static constexpr int StatBarMs = 1500;
    static constexpr int BeepMs = 960;

    DetailMonitor(MontComm1& comm, PollEngine& engine, QObject* parent = nullptr);
    ~DetailMonitor() override;

    // Tests drive the ticks themselves.
    void setTimersEnabled(bool enabled) { m_timersEnabled = enabled; }

    // --- what the window shows ---
    std::array<SlotScreen, Slots> Screen;
    QString panel1, panel2;
    bool beepResetVisible = false;
    bool addressFieldsEnabled = true;

    // --- the window's events ---
    void Activate();
    void NameComboClick(int slot, int index);
    void OpencmdClick(int slot);
    // The operator flipped switch s (slot × 8 + pin) to on.
    void SwitchFlipped(int s, bool on);
    void BeepResetClick();
    void Timer1Tick(int slot);
    void StatBarTick();
    void BeepTick();
    // Stops every active slot; false (and nothing stopped) while work is under way.
    void StopAll();
    bool anyActive() const;
    // True while a slot's cycle, start or switch operation is running.
    bool working() const { return m_working; }
    // Runs fn now, or once the work under way has ended.
    void whenIdle(std::function<void()> fn);

    // --- operations ---
    void StartSlot(int slot);
    void StopSlot(int slot);
    void PollSlotUnit(int slot);
    void ServeOutputRequest(int slot);
    void ShowRelayedData(int slot);
    bool UpLdFileChk(const QString& name, const QString& expected, int slot);
    QString ClearRequestFile(const QString& name, int slot);
    bool WriteAndSendDataFile(int slot);
    void SetAlarmState(bool raise, int slot);
    void RevertSwitch(int s);

    // State the relay operations share.
    std::array<int16_t, Slots> SlotActive{};
    std::array<int16_t, Slots> SlotAlarm{};
    std::array<QString, Slots> SlotParamLine;
    std::array<QString, Slots> SlotRelayText;
    Relay::UploadValues UploadValues{};
    std::array<int16_t, Slots * 8> PendingCount{};
    bool StatusErrorPending = false;
    QString StatusErrorText;
    QString StatusModeText;
    bool DialUpDone = false;
    int16_t OutUnit = 0;
    int32_t OutPort = 6;
    int16_t OutPin = 0;

    std::array<std::unique_ptr<FtpClient>, Slots> ftp1;
    QTimer timFtp;

signals:
    void changed();
    void beep();

private:
    struct Reading; // one upload-side read of a unit

    bool uploadSide() const;
    bool downloadSide() const;
    int unitOf(int slot) const;
    QString unitName(int slot) const;
    void setStatus(int slot, const QString& text, Tone tone);
    void ResetSwitches(int slot);
    void ArmOutputSwitches(int slot);
    void PrepareSlotDisplay(int slot);
    void ClearSlotDisplay(int slot);
    void SetModeCaption();
    bool CheckFileNameSet(int slot);
    bool LoadParamLine(int slot);
    bool startUploadSlot(int slot);
    bool startDownloadSlot(int slot);
    bool dialUp();
    bool CheckRemoteParams(int slot);
    bool OpenSlotLink(int slot);
    void CheckDigitalAlarm(int slot, int kind, int led, bool high);
    void SetOutputDirect();
    void PostOutputRequest();
    void runCycle(int slot);
    void startTimer(int slot);
    void restartGrid(int slot);
    // Runs fn as the station's one piece of relay work; the queue runs after it.
    void exclusive(std::function<void()> fn);

    // Waits in a local loop for one exchange with the slot's unit; false on a link error.
    bool onUnit(int slot, std::function<void(DeviceLink&)> work);
    // Fetches a URL through a lane (proxy rule applied); false when the fetch failed.
    bool fetch(const QString& url, QString& text);
    QString sendFolderPath(const QString& name) const;
    std::optional<QStringList> readRelayLines(const QString& path, int maxLines) const;
    bool copyToSendFolder(const QString& name) const;

    MontComm1& m_comm;
    PollEngine& m_engine;
    std::array<QTimer, Slots> m_timer1;
    QTimer m_statBarTimer;
    QTimer m_beepTimer;
    std::array<uint64_t, Slots> m_generation{};
    bool m_working = false;
    bool m_timersEnabled = true;
    std::deque<std::function<void()>> m_queue;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
