#pragma once
// What the detail monitor window does, without its widgets: three slots, each watching one
// unit on its own cycle, on the upload side (UploadSlot) or the download side (DownloadSlot)
// of the relay, over one RelayTransport. The window draws each slot's screen and the status
// bar from here and forwards its clicks; nothing here waits, and boxes are raised through the
// message service's notify, never waited for.

#include "relay/DownloadSlot.h"
#include "shared/MontComm1.h"
#include "shared/RelayTransport.h"
#include "relay/UploadSlot.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <memory>

class PollEngine;

class DetailMonitor : public QObject, private SlotHost {
    Q_OBJECT
public:
    static constexpr int Slots = 3;
    static constexpr int StatBarMs = 1500;
    static constexpr int BeepMs = 960;

    DetailMonitor(MontComm1& comm, PollEngine& engine, QObject* parent = nullptr);
    ~DetailMonitor() override;

    // Tests drive the ticks themselves.
    void setTimersEnabled(bool enabled);

    // --- what the window shows ---
    const SlotScreen& screen(int slot) const { return m_slots[slot]->screen(); }
    const QString& panel1() const { return m_panel1; }
    const QString& panel2() const { return m_panel2; }
    const QString& modeText() const { return m_modeText; }
    bool beepResetVisible() const { return m_beeping; }
    bool addressFieldsEnabled() const { return m_addressFieldsEnabled; }

    // --- the window's events ---
    void Activate();
    void NameComboClick(int slot, int index);
    void OpencmdClick(int slot) { m_slots[slot]->OpencmdClick(); }
    // The operator flipped switch s (slot × 8 + pin) to on.
    void SwitchFlipped(int s, bool on);
    void BeepResetClick();
    void Timer1Tick(int slot) { m_slots[slot]->Timer1Tick(); }
    void StatBarTick();
    void BeepTick();
    void StopSlot(int slot) { m_slots[slot]->StopSlot(); }
    // Stops every active or starting slot, dropping whatever work it has under way.
    void StopAll();

    // --- what the slots are doing ---
    bool anyActive() const;
    // True while any slot's cycle, start or switch operation is under way.
    bool working() const;
    bool slotActive(int slot) const { return m_slots[slot]->active(); }
    bool slotWorking(int slot) const { return m_slots[slot]->working(); }
    int16_t slotAlarm(int slot) const { return m_slots[slot]->alarm(); }
    // The slot holds a lease of the station's dial-up line.
    bool holdsLine(int slot) const { return m_slots[slot]->holdsLine(); }
    // True from a switch flip until its operation has ended: the window is disabled meanwhile.
    bool switchOperating() const { return m_switchOps > 0; }
    // The upload side's slot, or nothing on the download side.
    const UploadSlot* uploadSlot(int slot) const { return dynamic_cast<const UploadSlot*>(m_slots[slot].get()); }
    const DownloadSlot* downloadSlot(int slot) const { return dynamic_cast<const DownloadSlot*>(m_slots[slot].get()); }

signals:
    void changed();
    void beep();

private:
    void screenChanged() override { emit changed(); }
    void alarmChanged() override;
    void reportError(const QString& text) override;
    void switchOpsChanged(int delta) override { m_switchOps += delta; }
    int slotWatching(int unit, int asking) const override;
    // Gives every slot the type of the side the mode names.
    void makeSlots(bool upload);
    void SetModeCaption();

    MontComm1& m_comm;
    PollEngine& m_engine;
    RelayTransport m_transport;
    std::array<std::unique_ptr<RelaySlot>, Slots> m_slots;
    bool m_uploadSide = false;
    QTimer m_statBarTimer;
    QTimer m_beepTimer;
    bool m_timersEnabled = true;
    QString m_panel1, m_panel2;
    QString m_modeText;
    bool m_errorPending = false;
    QString m_errorText;
    bool m_beeping = false;
    bool m_addressFieldsEnabled = true;
    int m_switchOps = 0;
};
