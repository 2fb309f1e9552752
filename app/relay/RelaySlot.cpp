// A detail monitor slot: start and stop, the cycle, the switches and the slot's alarm.

#include "relay/RelaySlot.h"

#include "platform/Clock.h"
#include "shared/CycleDue.h"
#include "platform/DateText.h"
#include "outside/DeviceLink.h"
#include "shared/DialUpLine.h"
#include "shared/FtpUpload.h"
#include "platform/MessageBox.h"
#include "outside/PollEngine.h"
#include "shared/RelayText.h"
#include "shared/RelayTransport.h"
#include "shared/TableWords.h"
#include "platform/TextFile.h"
#include "shared/UnitEndpoint.h"

RelaySlot::RelaySlot(int index, MontComm1& comm, PollEngine& engine, RelayTransport& transport, SlotHost& host)
    : m_index(index)
    , m_comm(comm)
    , m_engine(engine)
    , m_transport(transport)
    , m_host(host)
{
    m_timer1.setInterval(CycleTickMs);
    connect(&m_timer1, &QTimer::timeout, this, &RelaySlot::Timer1Tick);
    connect(&m_transport, &RelayTransport::sendingDirect, this, [this](int slot) {
        if (slot == m_index)
            m_host.reportError(
                QStringLiteral("  FTPサーバーが一時ファイル名を受け付けないため、最終ファイル名で直接送信します ： ") +
                unitName());
    });
}

RelaySlot::~RelaySlot()
{
    m_transport.cancel(m_index);
    releaseLine();
}

int RelaySlot::unitOf() const
{
    const int u = m_screen.index;
    return u >= 0 && u < m_comm.sys().unitCount() ? u : -1;
}

QString RelaySlot::unitName() const
{
    const int u = unitOf();
    return u < 0 ? QString() : m_comm.sys().cell(u, ColName);
}

void RelaySlot::setStatus(const QString& text, Tone tone)
{
    m_screen.status = text;
    m_screen.statusTone = tone;
    m_host.screenChanged();
}

void RelaySlot::warn(const QString& text, const QString& title)
{
    // Shown after the current step and never waited for: the slots go on under it.
    m_comm.messages().notify(text, title, MessageBoxService::Icon::Exclamation);
}

void RelaySlot::beginWork()
{
    m_working = true;
    m_host.screenChanged();
}

void RelaySlot::endWork()
{
    m_working = false;
    m_host.screenChanged();
    runFlips(); // a switch flipped meanwhile goes next, before any cycle
}

void RelaySlot::onUnit(std::function<void(DeviceLink&)> work, std::function<void(bool)> done)
{
    const int u = unitOf();
    if (u < 0) {
        done(false);
        return;
    }
    const DeviceRecord row = m_comm.sys().DeviceTable()[u];
    const int32_t timeOut = m_comm.sys().MonitorSettings().TimeOut;
    UnitEndpoint::onUnit<bool>(
        m_engine, row, this,
        [row, timeOut, work = std::move(work)](DeviceLink& link) {
            try {
                if (!SysInf::AimUnitLink(link, row, timeOut))
                    return false;
                work(link);
                return true;
            } catch (const std::exception&) { // a link error; anything else ends at the lane
                return false;
            }
        },
        guarded<bool>(std::move(done)));
}

void RelaySlot::readUnit(std::function<void(UnitReading)> done)
{
    const int u = unitOf();
    if (u < 0) {
        done(UnitReading{});
        return;
    }
    const DeviceRecord row = m_comm.sys().DeviceTable()[u];
    const ReadPlan plan{true, m_comm.sys().MonitorSettings().TimeOut, true};
    UnitEndpoint::onUnit<UnitReading>(
        m_engine, row, this, [row, plan](DeviceLink& link) { return ReadUnit(link, row, plan); },
        guarded<UnitReading>(std::move(done)));
}

// --- the selector and the connect button ---

void RelaySlot::select(const QStringList& names, int index)
{
    m_screen.names = names;
    m_screen.index = index;
    const int u = unitOf();
    m_screen.ip = u < 0 ? QString() : m_comm.sys().cell(u, ColIP);
    StopSlot();
}

void RelaySlot::OpencmdClick()
{
    if (unitOf() < 0)
        return;
    if (m_active)
        StopSlot(); // at once, whatever the slot is doing
    else if (m_working)
        return; // a start is under way
    else if (m_comm.inet().CommMode() == CommModeKind::LanDownload || m_comm.inet().InetInfValid())
        StartSlot();
    else
        warn(QStringLiteral("ｲﾝﾀｰﾈｯﾄ設定ﾌｧｲﾙが読めません！"));
}

// --- starting and stopping ---

bool RelaySlot::LoadParamLine()
{
    m_paramLine = Relay::ParamLine(m_comm, unitOf());
    if (m_paramLine.isEmpty()) {
        warn(QStringLiteral("システムファイルが開けません"));
        return false;
    }
    return true;
}

void RelaySlot::dialUp(std::function<void(bool)> done)
{
    // Each slot that dials holds one lease of the station's line until it stops; the line is
    // hung up only when no slot (and no mail) holds it any more.
    const auto& s = m_comm.inet().InternetSettings();
    if (s.DialUpName.isEmpty() || m_leased)
        return done(true);
    m_leased = true;
    m_comm.dialUpLine().acquire(s.DialUpName, s.DialUpUser, s.DialUpPass, this,
                                guarded<int32_t>(std::function<void(int32_t)>([this, done](int32_t rc) {
                                    if (rc == 0)
                                        return done(true);
                                    m_comm.messages().notify(QStringLiteral("ダイアルアップ接続に失敗しました"),
                                                             QStringLiteral("ダウンロード"),
                                                             MessageBoxService::Icon::None);
                                    done(false);
                                })));
}

void RelaySlot::withLine(std::function<void()> then, std::function<void(bool)> done)
{
    if (m_transport.route() == RelayTransport::Route::Folder)
        return then();
    dialUp([then = std::move(then), done = std::move(done)](bool up) {
        if (!up)
            return done(false);
        then();
    });
}

void RelaySlot::releaseLine()
{
    if (!m_leased)
        return; // a second stop has nothing to give back
    m_leased = false;
    m_comm.dialUpLine().release();
}

void RelaySlot::StartSlot()
{
    if (m_screen.busy || m_working)
        return;
    beginWork();
    m_screen.busy = true;
    m_host.screenChanged();
    if (m_comm.inet().RelayFileName(unitOf()).isEmpty()) {
        m_screen.busy = false;
        warn(QStringLiteral("ﾊﾟﾗﾒｰﾀﾌｧｲﾙを設定して下さい"));
        endWork();
        return;
    }
    // Two slots on one unit would log it twice a second and send one file under one name twice.
    if (const int other = m_host.slotWatching(unitOf(), m_index); other >= 0) {
        m_screen.busy = false;
        warn(unitName() + QStringLiteral("はスロット%1でモニタ中です").arg(other + 1));
        endWork();
        return;
    }
    prepare([this](bool ok) {
        m_screen.busy = false;
        m_host.screenChanged();
        if (!ok) {
            releaseLine();
            endWork();
            return;
        }
        openLink([this](bool linked) {
            if (!linked) {
                setStatus(QStringLiteral("接続ｴﾗｰ"), Tone::Bad);
                releaseLine(); // a failed start holds no line
                endWork();
                return;
            }
            ArmOutputSwitches();
            restartGrid();
            m_active = true;
            startTimer();
            m_screen.openCaption = QStringLiteral("切断");
            m_screen.selectorEnabled = false;
            setStatus(StatusWord::Connected, Tone::Good);
            PrepareSlotDisplay();
            endWork();
        });
    });
}

void RelaySlot::StopSlot()
{
    // Whatever the slot was doing is dropped: its callbacks find the generation moved on.
    ++m_generation;
    m_transport.cancel(m_index);
    m_working = false;
    m_markWanted = false;
    int held = 0;
    for (int h : m_flipsHeld)
        held += h; // flips of a stopped slot are not carried out
    m_flips.clear();
    m_flipsHeld.fill(0);
    if (held)
        m_host.switchOpsChanged(-held);
    m_timer1.stop();
    stopped();
    m_active = false;
    m_screen.busy = false;
    m_screen.openCaption = QStringLiteral("接続");
    m_screen.selectorEnabled = true;
    m_screen.selectorAlert = false;
    m_screen.status = StatusWord::Disconnected;
    m_screen.statusTone = Tone::Window;
    if (m_alarm != AlarmClear && unitOf() >= 0)
        m_comm.events().cleared(unitOf(), false);
    SetAlarmState(false);
    ResetSwitches();
    releaseLine();
    ClearSlotDisplay();
}

void RelaySlot::startTimer()
{
    if (m_timersEnabled)
        m_timer1.start();
}

void RelaySlot::restartGrid()
{
    const QDateTime now = m_comm.clock().now();
    const auto& m = m_comm.sys().MonitorSettings();
    m_comm.units().SetCycleStart(m_index, DateText::general(now));
    m_comm.units().SetCycleDue(m_index, DateText::general(DateText::addCycle(now, m.MoniterCycl, m.MoniterCyclType)));
}

// --- the slot display ---

void RelaySlot::ResetSwitches()
{
    m_screen.switchOn.fill(false);
    m_screen.switchArmed.fill(false);
    m_host.screenChanged();
}

void RelaySlot::ArmOutputSwitches()
{
    const int u = unitOf();
    for (int p = 0; p < 8; ++p)
        m_screen.switchArmed[p] = u >= 0 && m_comm.sys().cell(u, ColRB0 + p) == TableWord::Dout;
    m_host.screenChanged();
}

void RelaySlot::PrepareSlotDisplay()
{
    const int u = unitOf();
    for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
        if (u >= 0 && m_comm.sys().cell(u, ColRA0 + k) == TableWord::Ain) {
            m_screen.values[k].clear();
            m_screen.valueActive[k] = true;
        }
    }
    m_screen.values[4].clear();
    m_screen.valueActive[4] = true;
    m_host.screenChanged();
}

void RelaySlot::ClearSlotDisplay()
{
    for (int k = 0; k < 5; ++k) {
        m_screen.values[k].clear();
        m_screen.valueActive[k] = false;
    }
    m_screen.inputLed.fill(Led::Empty);
    m_screen.outputLed.fill(Led::Empty);
    m_screen.inputAlarm.fill(false);
    m_screen.outputAlarm.fill(false);
    m_host.screenChanged();
}

// --- the cycle ---

void RelaySlot::Timer1Tick()
{
    // A tick while the slot works (or a flip waits for it) is skipped; a due time it missed is
    // caught up next tick. Other slots are not held by it.
    if (!m_active || m_working || !m_flips.empty())
        return;
    if (!IsCycleDue(m_comm.units().CycleDue(m_index), m_comm.clock().now(), m_comm.sys().MonitorSettings()))
        return;
    runCycle();
}

void RelaySlot::runCycle()
{
    beginWork();
    m_screen.busy = true;
    m_host.screenChanged();
    const QDateTime due = m_comm.clock().now();
    cycle([this, due] {
        const int u = unitOf();
        if (u >= 0)
            m_comm.dataLog().write(u, due);
        m_screen.busy = false;
        m_comm.units().SetCycleDue(m_index, NextCycleDue(m_comm.units().CycleDue(m_index), m_comm.clock().now(),
                                                         m_comm.sys().MonitorSettings()));
        endWork();
    });
}

// --- the slot's alarm ---

void RelaySlot::CheckDigitalAlarm(int kind, int pin, bool high)
{
    const int u = unitOf();
    const QString condition = m_comm.sys().GetArmField(u, 2);
    const QString level = high ? TableWord::High : TableWord::Low;
    if (level != condition) {
        if (m_alarm == AlarmRaised || m_alarm == AlarmAcknowledged) {
            m_screen.inputAlarm[pin] = false;
            m_screen.outputAlarm[pin] = false;
            m_screen.selectorAlert = false;
            SetAlarmState(false);
            m_comm.events().cleared(u);
        }
        return;
    }
    if (m_alarm != AlarmClear)
        return;
    (kind == 1 ? m_screen.inputAlarm : m_screen.outputAlarm)[pin] = true;
    m_screen.selectorAlert = true;
    SetAlarmState(true);
    m_comm.events().raised(u, false);
    if (m_comm.inet().HasCameraFolder())
        m_markWanted = true; // sent through the slot's control as the cycle's next step
}

void RelaySlot::SetAlarmState(bool raise)
{
    m_alarm = raise ? AlarmRaised : AlarmClear;
    m_host.alarmChanged();
}

void RelaySlot::acknowledge()
{
    if (m_alarm != AlarmRaised)
        return;
    m_alarm = AlarmAcknowledged;
    if (unitOf() >= 0)
        m_comm.events().acknowledged(unitOf());
}

void RelaySlot::reportPoll(int unit, UnitLamp lamp)
{
    m_comm.mqtt().unitPolled(unit, lamp, m_alarm);
}

void RelaySlot::postMark(Next next)
{
    if (!m_markWanted)
        return next();
    m_markWanted = false;
    // Dropped with the slot's other work when it stops.
    const uint64_t started = generation();
    m_transport.postMark(
        m_index, [this, started] { return generation() == started; }, std::move(next));
}

// --- output switches ---

void RelaySlot::RevertSwitch(int pin)
{
    bool& on = m_screen.switchOn[pin];
    on = !on;
    m_host.screenChanged();
}

void RelaySlot::SwitchFlipped(int pin, bool on)
{
    m_screen.switchOn[pin] = on;
    // Carried out with this level once the slot's work has ended; until then nothing the
    // cycle reads overwrites it.
    m_flips.emplace_back(pin, on);
    ++m_flipsHeld[pin];
    m_host.switchOpsChanged(+1);
    m_host.screenChanged();
    runFlips();
}

void RelaySlot::runFlips()
{
    if (m_working || m_flips.empty())
        return;
    const auto [pin, on] = m_flips.front();
    m_flips.pop_front();
    beginWork();
    Next finished = guarded<>(Next([this, pin = pin] {
        --m_flipsHeld[pin];
        m_host.switchOpsChanged(-1);
        endWork();
    }));
    if (!m_screen.switchArmed[pin]) {
        RevertSwitch(pin);
        return finished();
    }
    const int u = unitOf();
    if (u < 0 || m_comm.sys().GetPinType(u, UnitMap::PortB, pin) != 0 || !m_active)
        return finished();
    m_timer1.stop();
    setOutput(pin, on, [this, finished] {
        if (m_active) { // the slot's cycle grid restarts from now
            restartGrid();
            startTimer();
        }
        finished();
    });
}
