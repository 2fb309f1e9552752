#pragma once
// What the detail monitor window does, without its widgets: three slots, each watching one
// unit on its own cycle. On the upload side a slot polls its unit, writes and sends the unit's
// relay data file and carries out output requests; on the download side it reads the relay
// data file and posts output requests. The window draws Screen and forwards its clicks.
//
// Nothing here waits. Unit exchanges and fetches run on the poll engine's lanes and FTP sends
// on the slot's own control; each step goes on from its callback. Every slot is its own state
// machine with its own busy flag, so a slow unit or server holds only its slot: a tick that
// comes while the slot works is skipped (its due time is caught up at the next tick). Boxes are
// raised through the message service's notify, never waited for. Stopping a slot drops its
// work at once: callbacks of older work find the slot's generation moved on and do nothing.
//
// A switch flipped while its slot works keeps the level the operator chose: the cycle does not
// overwrite it, and the output is set (or the request posted) with that level once the slot's
// work has ended. The window stays disabled from the flip until then.

#include "FtpClient.h"
#include "FtpUpload.h"
#include "MontComm1.h"
#include "RelayText.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

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
    // Pure red behind the LED that raised the alarm: the input's for an input, the output's for an output.
    std::array<bool, 8> inputAlarm{};
    std::array<bool, 8> outputAlarm{};
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
    // Stops every active or starting slot, dropping whatever work it has under way.
    void StopAll();
    bool anyActive() const;
    // True while any slot's cycle, start or switch operation is under way.
    bool working() const;
    bool slotWorking(int slot) const { return m_run[slot].working; }
    // The slot holds a lease of the station's dial-up line.
    bool holdsLine(int slot) const { return m_run[slot].leased; }
    // True from a switch flip until its operation has ended: the window is disabled meanwhile.
    bool switchOperating() const { return m_switchOps > 0; }

    // --- operations; each calls its continuation once it has ended ---
    using Next = std::function<void()>;
    void StartSlot(int slot);
    void StopSlot(int slot);
    void PollSlotUnit(int slot, Next next);
    void ServeOutputRequest(int slot, Next next);
    void ShowRelayedData(int slot, Next next);
    // Reads back exactly as many lines as expected holds.
    void UpLdFileChk(const QString& name, const QString& expected, int slot, std::function<void(bool)> done);
    void ClearRequestFile(const QString& name, int slot, std::function<void(QString)> done);
    void WriteAndSendDataFile(int slot, std::function<void(bool)> done);
    void SetAlarmState(bool raise, int slot);
    void RevertSwitch(int s);

    // State the relay operations share.
    std::array<int16_t, Slots> SlotActive{};
    std::array<int16_t, Slots> SlotAlarm{};
    std::array<QString, Slots> SlotParamLine;
    std::array<QString, Slots> SlotRelayText;
    // One line of values per slot: slots read their units side by side.
    std::array<Relay::UploadValues, Slots> UploadValues{};
    std::array<int16_t, Slots * 8> PendingCount{};
    bool StatusErrorPending = false;
    QString StatusErrorText;
    QString StatusModeText;
    int16_t OutUnit = 0;
    int32_t OutPort = 6;
    int16_t OutPin = 0;

    std::array<std::unique_ptr<FtpClient>, Slots> ftp1;
    std::array<QTimer, Slots> timFtp; // each slot's FTP watchdog

signals:
    void changed();
    void beep();

private:
    struct Reading; // one upload-side read of a unit
    // What a slot is doing beyond what it shows.
    struct SlotRun {
        bool working = false;
        uint64_t generation = 0;                // moves on at every stop: older callbacks are dropped
        std::deque<std::pair<int, bool>> flips; // pin and the level the operator chose
        std::array<int, 8> flipsHeld{};         // per pin: flips queued or being carried out
        bool markWanted = false;                // an alarm was raised and camera folders are set
        bool leased = false;                    // holds a lease of the dial-up line
    };

    bool uploadSide() const;
    bool downloadSide() const;
    int unitOf(int slot) const;
    QString unitName(int slot) const;
    void setStatus(int slot, const QString& text, Tone tone);
    void warn(const QString& text, const QString& title = QString());
    void ResetSwitches(int slot);
    void ArmOutputSwitches(int slot);
    void PrepareSlotDisplay(int slot);
    void ClearSlotDisplay(int slot);
    void SetModeCaption();
    bool CheckFileNameSet(int slot);
    bool LoadParamLine(int slot);
    void startUploadSlot(int slot, std::function<void(bool)> done);
    void startDownloadSlot(int slot, std::function<void(bool)> done);
    void resetRequestFile(int slot, const QString& name, int attempt, std::function<void(bool, QString)> done);
    void consumeRequest(int slot, const QString& name, const QString& requestLine, int attempt, Next next);
    void fetchRelayFile(int slot, const QString& url, const QString& dataName, int attempt,
                        std::function<void(std::optional<QString>)> done);
    void showRelayText(int slot, int unit, const QString& dataName);
    void postMarkTo(int slot, QStringList folders, Next next);
    void dialUp(int slot, std::function<void(bool)> done);
    void releaseLine(int slot);
    void CheckRemoteParams(int slot, std::function<void(bool)> done);
    void OpenSlotLink(int slot, std::function<void(bool)> done);
    void CheckDigitalAlarm(int slot, int kind, int led, bool high);
    void postMark(int slot, Next next);
    void SetOutputDirect(int slot, int pin, bool on, Next next);
    void PostOutputRequest(int slot, int pin, bool on, Next next);
    void runCycle(int slot);
    void runFlips(int slot);
    void startTimer(int slot);
    void restartGrid(int slot);
    void beginWork(int slot);
    void endWork(int slot);
    bool flipHeld(int slot, int pin) const { return m_run[slot].flipsHeld[pin] > 0; }

    // Wraps a continuation of the slot's work so that it does nothing once the slot has been
    // stopped (or stopped and started again) since.
    template <class... A> std::function<void(A...)> guarded(int slot, std::function<void(A...)> fn)
    {
        const uint64_t generation = m_run[slot].generation;
        return [this, slot, generation, fn = std::move(fn)](A... a) {
            if (m_run[slot].generation == generation)
                fn(std::move(a)...);
        };
    }
    // One exchange with the slot's unit on its lane; done(false) on a link error.
    void onUnit(int slot, std::function<void(DeviceLink&)> work, std::function<void(bool)> done);
    // Fetches a URL through a lane (proxy rule applied); nothing when the fetch failed.
    void fetch(int slot, const QString& url, std::function<void(std::optional<QString>)> done);
    struct Fetched {
        std::optional<QString> text;
        bool unreadable = false; // the server had a document, but not one a relay file can be
    };
    void fetchDocument(int slot, const QString& url, std::function<void(Fetched)> done);
    // Resets a request file that cannot be read as a request and reports the slot's error.
    void discardRequest(int slot, const QString& name, Next next);
    // Sends a working-directory file through the slot's FTP control.
    void upload(int slot, const FtpTarget& target, const QString& name, std::function<void(int16_t)> done);
    QString sendFolderPath(const QString& name) const;
    std::optional<QStringList> readRelayLines(const QString& path, int maxLines) const;

    MontComm1& m_comm;
    PollEngine& m_engine;
    std::array<QTimer, Slots> m_timer1;
    QTimer m_statBarTimer;
    QTimer m_beepTimer;
    std::array<SlotRun, Slots> m_run;
    int m_switchOps = 0;
    bool m_timersEnabled = true;
    // Declared after ftp1 and timFtp: a job is dropped before the control it drives.
    std::array<std::unique_ptr<FtpUploadJob>, Slots> m_jobs;
};
