// The detail monitor: its three slots, the status bar and the beeper they share.

#include "relay/DetailMonitor.h"

#include "platform/Conversions.h"

#include <algorithm>

DetailMonitor::DetailMonitor(MontComm1& comm, PollEngine& engine, QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_engine(engine)
    , m_transport(comm, engine)
{
    makeSlots(m_comm.inet().CommMode() == CommModeKind::InternetUpload ||
              m_comm.inet().CommMode() == CommModeKind::LanUpload ||
              m_comm.inet().CommMode() == CommModeKind::PlainLan);
    m_statBarTimer.setInterval(StatBarMs);
    connect(&m_statBarTimer, &QTimer::timeout, this, &DetailMonitor::StatBarTick);
    m_beepTimer.setInterval(BeepMs);
    connect(&m_beepTimer, &QTimer::timeout, this, &DetailMonitor::BeepTick);
}

DetailMonitor::~DetailMonitor() = default;

void DetailMonitor::setTimersEnabled(bool enabled)
{
    m_timersEnabled = enabled;
    for (auto& slot : m_slots)
        slot->setTimersEnabled(enabled);
}

void DetailMonitor::makeSlots(bool upload)
{
    if (m_slots[0] && upload == m_uploadSide)
        return;
    m_uploadSide = upload;
    SlotHost& host = *this;
    for (int i = 0; i < Slots; ++i) {
        m_slots[i].reset(); // its work is dropped and its lease given back before the new one
        if (upload)
            m_slots[i] = std::make_unique<UploadSlot>(i, m_comm, m_engine, m_transport, host);
        else
            m_slots[i] = std::make_unique<DownloadSlot>(i, m_comm, m_engine, m_transport, host);
        m_slots[i]->setTimersEnabled(m_timersEnabled);
    }
}

bool DetailMonitor::working() const
{
    return std::any_of(m_slots.begin(), m_slots.end(), [](const auto& s) { return s->working(); });
}

bool DetailMonitor::anyActive() const
{
    return std::any_of(m_slots.begin(), m_slots.end(), [](const auto& s) { return s->active(); });
}

void DetailMonitor::StopAll()
{
    for (auto& slot : m_slots)
        if (slot->active() || slot->working())
            slot->StopSlot();
}

// --- activation and the selectors ---

void DetailMonitor::Activate()
{
    Notify(m_comm.messages(), m_comm.sys().LoadSysInf());
    Notify(m_comm.messages(), m_comm.inet().LoadInetInf());
    const CommModeKind mode = m_comm.inet().CommMode();
    makeSlots(mode == CommModeKind::InternetUpload || mode == CommModeKind::LanUpload ||
              mode == CommModeKind::PlainLan);
    m_addressFieldsEnabled = mode != CommModeKind::InternetDownload;
    const auto& m = m_comm.sys().MonitorSettings();
    const QString& t = m.MoniterCyclType;
    const QString unit = t == QLatin1String("h")   ? QStringLiteral(" 時間")
                         : t == QLatin1String("n") ? QStringLiteral(" 分")
                         : t == QLatin1String("s") ? QStringLiteral(" 秒")
                                                   : QString();
    m_panel1 = QStringLiteral(" モニタ周期：") + Conv::Str(m.MoniterCycl) + unit;
    SetModeCaption();
    m_panel2 = m_modeText;
    QStringList names;
    for (int u = 0; u < m_comm.sys().unitCount(); ++u)
        names << m_comm.sys().cell(u, ColName);
    // Each slot is selected afresh, which stops it: the first units fill the first slots.
    const int filled = std::min(m_comm.sys().unitCount(), Slots);
    for (int i = 0; i < Slots; ++i)
        m_slots[i]->select(names, i < filled ? i : -1);
    if (m_timersEnabled)
        m_statBarTimer.start();
    emit changed();
}

void DetailMonitor::SetModeCaption()
{
    m_modeText = QStringLiteral("  通信モード ： ");
    switch (m_comm.inet().CommMode()) {
    case CommModeKind::InternetUpload:
        m_modeText += QStringLiteral("アップロード");
        break;
    case CommModeKind::InternetDownload:
        m_modeText += QStringLiteral("ダウンロード");
        break;
    case CommModeKind::LanDownload:
        m_modeText += QStringLiteral("ＬＡＮダウンロード");
        break;
    case CommModeKind::PlainLan:
        m_modeText += QStringLiteral("ＬＡＮ（通常モード）");
        break;
    case CommModeKind::LanUpload:
        m_modeText += QStringLiteral("ＬＡＮアップロード");
        break;
    }
}

void DetailMonitor::NameComboClick(int slot, int index)
{
    const QStringList names = m_slots[slot]->screen().names;
    m_slots[slot]->select(names, index);
}

void DetailMonitor::SwitchFlipped(int s, bool on)
{
    if (s < 0 || s >= Slots * 8)
        return;
    m_slots[s / 8]->SwitchFlipped(s % 8, on);
}

// --- the beeper and the status bar ---

void DetailMonitor::alarmChanged()
{
    m_beeping =
        std::any_of(m_slots.begin(), m_slots.end(), [](const auto& s) { return s && s->alarm() == AlarmRaised; });
    if (m_beeping && m_timersEnabled)
        m_beepTimer.start();
    else if (!m_beeping)
        m_beepTimer.stop();
    emit changed();
}

void DetailMonitor::BeepResetClick()
{
    for (auto& slot : m_slots)
        slot->acknowledge();
    alarmChanged();
}

void DetailMonitor::BeepTick()
{
    emit beep();
}

void DetailMonitor::reportError(const QString& text)
{
    m_errorText = text;
    m_errorPending = true;
}

void DetailMonitor::StatBarTick()
{
    m_panel2 = m_errorPending ? m_errorText : m_modeText;
    m_errorPending = false;
    emit changed();
}

int DetailMonitor::slotWatching(int unit, int asking) const
{
    for (int i = 0; i < Slots; ++i)
        if (i != asking && m_slots[i] && unit >= 0 && m_slots[i]->unitOf() == unit &&
            (m_slots[i]->active() || m_slots[i]->working()))
            return i;
    return -1;
}
