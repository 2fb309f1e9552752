#include "monitor/MonitorCycle.h"

#include "platform/Clock.h"
#include "platform/Conversions.h"
#include "shared/CycleDue.h"
#include "platform/DateText.h"
#include "outside/DeviceLink.h"
#include "platform/EventPump.h"
#include "outside/InternetTransfer.h"
#include "platform/MessageBox.h"
#include "outside/PollEngine.h"
#include "shared/RelayText.h"
#include "platform/TextFile.h"
#include "shared/TableWords.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

MonitorCycle::MonitorCycle(MontComm1& comm, MonitorView& view, PollEngine& engine, QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_view(view)
    , m_engine(engine)
{
    Timer1.setInterval(1000);
    // A coarse timer may slip by 5 %: two ticks in one second and none in the next would leave
    // a second without its log line.
    Timer1.setTimerType(Qt::PreciseTimer);
    BeepTimer.setInterval(960);
    connect(&Timer1, &QTimer::timeout, this, &MonitorCycle::MonitorTick);
    connect(&Timer2, &QTimer::timeout, this, &MonitorCycle::RetryPass);
    connect(&BeepTimer, &QTimer::timeout, this, &MonitorCycle::BeepTick);
    ResetUnitStates();
}

QString MonitorCycle::CycleText() const
{
    const auto& m = m_comm.sys().MonitorSettings();
    QString unit;
    if (m.MoniterCyclType == QStringLiteral("h"))
        unit = QStringLiteral(" 時間");
    else if (m.MoniterCyclType == QStringLiteral("n"))
        unit = QStringLiteral(" 分");
    else if (m.MoniterCyclType == QStringLiteral("s"))
        unit = QStringLiteral(" 秒");
    return QStringLiteral(" モニタ周期：") + Conv::Str(m.MoniterCycl) + unit;
}

int32_t MonitorCycle::TimeOutSeconds() const
{
    // 32-bit arithmetic: 32767 hours still fits, where 16 bits overflowed at 10 hours.
    const auto& m = m_comm.sys().MonitorSettings();
    int32_t factor = 1;
    if (m.TimeOutCyclType == QStringLiteral("h"))
        factor = 3600;
    else if (m.TimeOutCyclType == QStringLiteral("n"))
        factor = 60;
    return int32_t(m.TimeOut) * factor;
}

void MonitorCycle::Activate()
{
    Notify(m_comm.messages(), m_comm.sys().LoadSysInf());
    // ReloadCycl is at most 32767, so the product fits an int; a value below 1 never gets here.
    Timer2.setInterval(std::max<int>(1, m_comm.sys().MonitorSettings().ReloadCycl) * 1000);
    Notify(m_comm.messages(), m_comm.inet().LoadInetInf());
    HeaderListValid = BuildExpectedHeaders();
    if (lanMode()) {
        m_screen.portSettingEnabled = true;
        m_screen.panels[1] = QStringLiteral("  通信モード ： ＬＡＮ");
        SetModeControls(true);
    } else {
        m_screen.portSettingEnabled = false;
        m_screen.panels[1] = QStringLiteral("  通信モード ： ダウンロード");
        SetModeControls(false);
    }
    if (m_comm.sys().SysInfValid()) {
        m_screen.panels[0] = CycleText();
        RedrawRows();
    } else {
        m_screen.panels[0] = QStringLiteral(" システム情報ファイルに異常が認められます・・・");
    }
    m_view.screenChanged();
}

void MonitorCycle::ResetUnitStates()
{
    m_comm.units().ResetAll();
    RetryCursor = 0;
}

void MonitorCycle::LoadState()
{
    PageOffset = 0;
    ResetUnitStates();
}

bool MonitorCycle::onPageShown(int unit) const
{
    return unit >= PageOffset && unit < PageOffset + RowsPerPage && unit < m_comm.sys().unitCount();
}

void MonitorCycle::RedrawRows()
{
    const int count = m_comm.sys().unitCount();
    for (int r = 0; r < RowsPerPage; ++r) {
        const int u = PageOffset + r;
        m_screen.rows[r].tone = RowTone::Normal;
        if (u < count) {
            m_screen.rows[r].name = m_comm.sys().cell(u, ColName);
            if (m_comm.sys().cell(u, ColControl) == TableWord::On) {
                if (running() &&
                    m_comm.units().unitItem(ItemFailureCount, u) > m_comm.sys().MonitorSettings().ReloadSize) {
                    m_screen.rows[r].lamp = Lamp::GivenUp;
                    m_screen.rows[r].tone = RowTone::Alert;
                } else {
                    m_screen.rows[r].lamp = Lamp::Off;
                }
            } else {
                m_screen.rows[r].lamp = Lamp::None;
            }
        } else {
            m_screen.rows[r].name = QString();
            m_screen.rows[r].lamp = Lamp::None;
        }
    }
    m_screen.panels[2] = QString();
    m_view.screenChanged();
}

// --- polling ---

void MonitorCycle::showGoodPoll(int unit)
{
    m_comm.mqtt().unitPolled(unit, UnitLamp::Good);
    if (!onPageShown(unit))
        return;
    const int row = unit % RowsPerPage;
    m_screen.rows[row].lamp = Lamp::On;
    const bool alarm =
        m_comm.sys().cell(unit, ColArm) != TableWord::Non && m_comm.units().unitItem(ItemAlarmFlag, unit) != AlarmClear;
    m_screen.rows[row].tone = alarm ? RowTone::Alert : RowTone::Normal;
    m_view.screenChanged();
}

void MonitorCycle::pollFailed(int unit, bool lan, bool stale)
{
    int16_t& failures = m_comm.units().unitItem(ItemFailureCount, unit);
    failures = int16_t(std::min<int>(failures + 1, INT16_MAX));
    const bool givenUp = failures > m_comm.sys().MonitorSettings().ReloadSize;
    m_comm.mqtt().unitPolled(unit, givenUp ? UnitLamp::GivenUp : stale ? UnitLamp::RelayStale : UnitLamp::Failed);
    if (!givenUp)
        return;
    if (failures == m_comm.sys().MonitorSettings().ReloadSize + 1)
        giveUp(unit, lan); // relayed units are not mailed
    showGivenUp(unit);
}

void MonitorCycle::giveUp(int unit, bool mail)
{
    // Once per failure episode, for every unit, not only those on the page shown.
    if (!std::exchange(m_givenUp[unit], true))
        m_comm.events().givenUp(unit, mail);
}

void MonitorCycle::showGivenUp(int unit)
{
    if (!onPageShown(unit))
        return;
    m_screen.rows[unit % RowsPerPage].lamp = Lamp::GivenUp;
    m_screen.rows[unit % RowsPerPage].tone = RowTone::Alert;
    m_view.screenChanged();
}

void MonitorCycle::answered(int unit)
{
    m_comm.units().unitItem(ItemFailureCount, unit) = -1;
    if (std::exchange(m_givenUp[unit], false))
        m_comm.events().answering(unit);
}

MonitorCycle::Started MonitorCycle::PollUnit(int unit, int32_t timeOutSeconds, Pass pass)
{
    if (unit < 0 || unit >= m_comm.sys().unitCount())
        return Started::FailedAtOnce;
    if (m_inFlight[unit])
        return Started::Busy;
    const DeviceRecord row = m_comm.sys().DeviceTable()[unit];
    const uint64_t generation = m_generation;
    pollStarted(unit, pass);
    m_engine.submit<UnitReading>(
        SysInf::UnitKey(row), this,
        [row, timeOutSeconds](PollEngine::Tools& tools) {
            return ReadUnit(tools.link, row, ReadPlan{true, timeOutSeconds, false});
        },
        [this, unit, pass, generation](UnitReading reading) {
            pollEnded(unit, pass, generation, [&] { return ApplyReading(unit, reading); });
        });
    return Started::Yes;
}

bool MonitorCycle::ApplyReading(int unit, const UnitReading& reading)
{
    if (unit < 0 || unit >= m_comm.sys().unitCount())
        return false;
    StoreReading(m_comm.units(), unit, reading);
    if (!reading.ok) {
        pollFailed(unit, true);
        return false;
    }
    answered(unit);
    if (!EvaluateAlarm(unit)) {
        pollFailed(unit, true);
        return false;
    }
    showGoodPoll(unit);
    return true;
}

void MonitorCycle::pollStarted(int unit, Pass pass)
{
    m_inFlight[unit] = true;
    if (pass == Pass::Tick)
        ++m_tickOut;
    showActivity();
}

// An answer counts only for the monitoring that sent it; a retry pass goes on after a good one.
void MonitorCycle::pollEnded(int unit, Pass pass, uint64_t generation, const std::function<bool()>& apply)
{
    m_inFlight[unit] = false;
    if (generation != m_generation || m_shutdown)
        return;
    if (pass == Pass::Tick)
        --m_tickOut;
    const bool ok = apply();
    flushHeldLine(unit);
    if (pass == Pass::Retry)
        ok ? retryNext() : retryEnded();
    showActivity();
}

int MonitorCycle::exchangesOut() const
{
    int n = 0;
    for (bool b : m_inFlight)
        n += b;
    return n;
}

void MonitorCycle::logLine(int unit, const QDateTime& stamp)
{
    // Units not monitored keep a line of what they hold every second, as they always have.
    m_comm.dataLog().write(unit, stamp, m_comm.sys().cell(unit, ColControl) == TableWord::On);
}

void MonitorCycle::flushHeldLine(int unit)
{
    if (!m_lineHeld[unit])
        return;
    m_lineHeld[unit] = false;
    logLine(unit, m_heldStamp[unit]);
}

void MonitorCycle::invalidate()
{
    // Lines held for answers that will no longer count are written with what the units hold.
    for (int i = 0; i < UnitSlots; ++i)
        flushHeldLine(i);
    ++m_generation;
    m_tickOut = 0;
    m_retryRunning = false;
    if (m_activityShown) {
        m_activityShown = false;
        m_screen.panels[2] = m_panelBeforeActivity;
    }
    m_view.screenChanged();
}

// Panel 3 says what is out: a retry pass, else a tick's polls; the text before comes back after.
void MonitorCycle::showActivity()
{
    const bool busy = m_retryRunning || m_tickOut > 0;
    if (busy && !m_activityShown) {
        m_panelBeforeActivity = m_screen.panels[2];
        m_activityShown = true;
    }
    if (m_retryRunning)
        m_screen.panels[2] = QStringLiteral("リトライ");
    else if (m_tickOut > 0)
        m_screen.panels[2] = QStringLiteral("ＩＯモニタ");
    else if (m_activityShown) {
        m_activityShown = false;
        m_screen.panels[2] = m_panelBeforeActivity;
    }
    m_view.screenChanged();
}

bool MonitorCycle::BuildExpectedHeaders()
{
    // The line the upload side writes, from the table just loaded: both come from the same text.
    if (!m_comm.sys().SysInfValid())
        return false;
    for (int u = 0; u < m_comm.sys().unitCount(); ++u)
        ExpectedHeader[u] = Relay::ParamLine(m_comm, u);
    return true;
}

MonitorCycle::Started MonitorCycle::ReadRelayUnit(int unit, Pass pass)
{
    if (unit < 0 || unit >= m_comm.sys().unitCount())
        return Started::FailedAtOnce;
    if (m_inFlight[unit])
        return Started::Busy;
    const QString name = m_comm.inet().RelayFileName(unit); // empty for a name that is not 1..8 letters and digits
    if (name.isEmpty()) {
        m_comm.units().unitItem(ItemFailureCount, unit) = int16_t(m_comm.sys().MonitorSettings().ReloadSize + 1);
        m_comm.mqtt().unitPolled(unit, UnitLamp::GivenUp);
        giveUp(unit, false);
        showGivenUp(unit);
        return Started::FailedAtOnce;
    }
    const auto& s = m_comm.inet().InternetSettings();
    const QString url = relayUrl(name);
    const QString proxy = s.ProxyServerName, proxyPort = s.ProxyPortNo;
    const uint64_t generation = m_generation;
    pollStarted(unit, pass);
    m_engine.submit<RelayFetch>(
        url, this,
        [url, proxy, proxyPort](PollEngine::Tools& tools) {
            InternetTransfer& transfer = tools.transfer;
            if (!proxy.isEmpty()) {
                transfer.Proxy = proxy;
                transfer.ProxyPort = proxyPort;
                transfer.AccessType = InternetTransfer::NamedProxy;
            } else {
                transfer.AccessType = InternetTransfer::Default; // a proxy taken out of the settings is not used again
            }
            RelayFetch fetch;
            try {
                fetch.text = transfer.OpenURL(url);
                fetch.ok = true;
            } catch (const std::exception&) {
            }
            return fetch;
        },
        [this, unit, pass, generation](RelayFetch fetch) {
            pollEnded(unit, pass, generation, [&] { return ApplyRelayFetch(unit, fetch); });
        });
    return Started::Yes;
}

bool MonitorCycle::ApplyRelayFetch(int unit, const RelayFetch& fetch)
{
    if (unit < 0 || unit >= m_comm.sys().unitCount())
        return false;
    const auto failed = [&] {
        pollFailed(unit, false);
        return false;
    };
    // The first line must name the file and repeat this station's pin types exactly.
    Relay::RelayData data;
    if (!fetch.ok ||
        Relay::ParseText(fetch.text, Relay::DataFileName(m_comm, unit), ExpectedHeader[unit], data) != Relay::Check::Ok)
        return failed();
    // The relay carries whole degrees; keep the raw equivalent so the log and dialogs
    // convert the same way in both modes.
    const auto raw = Conv::CInt16(data.values[4] * UnitMap::DegreeFactor);
    if (!raw)
        return failed();
    // Only now is anything stored, so a bad file leaves the unit's values as they were.
    for (int c = 0; c < UnitMap::AnalogChannels; ++c)
        if (m_comm.sys().cell(unit, ColRA0 + c) == TableWord::Ain)
            m_comm.units().unitItem(c, unit) = data.values[c];
    m_comm.units().unitItem(ItemTemperature, unit) = *raw;
    for (int p = 0; p < UnitMap::PortBPins; ++p)
        m_comm.units().unitItem(ItemRB0 + p, unit) = data.values[5 + p];
    // Stale data is stored too; it only counts as a failed read.
    if (!m_comm.files().IsDataFresh(data.stamp)) {
        pollFailed(unit, false, true);
        return false;
    }
    m_comm.units().MarkHeard(unit);
    answered(unit);
    if (!EvaluateAlarm(unit))
        return failed();
    showGoodPoll(unit);
    return true;
}

// --- alarms ---

bool MonitorCycle::EvaluateAlarm(int unit)
{
    const AlarmRule rule = m_comm.sys().ArmRule(unit);
    if (rule.kind == AlarmRule::Kind::None)
        return true;
    if (rule.pin < 0)
        return false;
    const int16_t v = m_comm.units().unitItem(rule.item(), unit);
    const bool holds = rule.high ? v == 1 : v == 0;
    const int16_t flag = m_comm.units().unitItem(ItemAlarmFlag, unit);
    if (holds && flag == AlarmClear)
        SetUnitAlarm(AlarmChange::Raise, unit);
    else if (!holds && flag != AlarmClear)
        SetUnitAlarm(AlarmChange::Clear, unit);
    return true;
}

void MonitorCycle::SetUnitAlarm(AlarmChange change, int unit)
{
    if (unit < 0 || unit >= UnitSlots)
        return;
    m_comm.units().unitItem(ItemAlarmFlag, unit) = change == AlarmChange::Raise ? AlarmRaised : AlarmClear;
    showAlarms();
    // A raise always mails; a clear never does, even while another alarm stands.
    if (change == AlarmChange::Raise)
        m_comm.events().raised(unit);
    else
        m_comm.events().cleared(unit);
}

void MonitorCycle::ClearAllAlarms(const char* reason)
{
    // Monitoring stops or pauses: an alarm standing ends here for the broker's readers too.
    for (int i = 0; i < UnitSlots; ++i)
        if (std::exchange(m_comm.units().unitItem(ItemAlarmFlag, i), int16_t(AlarmClear)) != AlarmClear && reason)
            m_comm.mqtt().alarmEvent(i, AlarmEvent::Cleared, reason);
    showAlarms();
}

// The alarm text, the beeper and its button follow the flags of every unit.
void MonitorCycle::showAlarms()
{
    QString text;
    int raised = 0;
    for (int i = 0; i < UnitSlots; ++i) {
        const int16_t flag = m_comm.units().unitItem(ItemAlarmFlag, i);
        if (flag == AlarmClear)
            continue;
        text +=
            (text.isEmpty() ? QStringLiteral(" アラーム検出：") : QStringLiteral("，")) + m_comm.sys().cell(i, ColName);
        if (flag == AlarmRaised)
            ++raised;
    }
    m_screen.panels[0] = text.isEmpty() ? CycleText() : text;
    if (raised > 0) {
        if (!BeepTimer.isActive())
            BeepTimer.start();
        m_screen.beepResetVisible = true;
    } else {
        BeepTimer.stop();
        m_screen.beepResetVisible = false;
    }
    m_view.screenChanged();
}

void MonitorCycle::BeepTick()
{
    m_view.beep();
}

void MonitorCycle::BeepResetClick()
{
    for (int unit = 0; unit < UnitSlots; ++unit) {
        int16_t& flag = m_comm.units().unitItem(ItemAlarmFlag, unit);
        if (flag == AlarmRaised) {
            flag = AlarmAcknowledged;
            m_comm.events().acknowledged(unit);
        }
    }
    showAlarms();
}

// --- the two timers ---

int MonitorCycle::NextRetryUnit()
{
    const int count = m_comm.sys().unitCount();
    for (int i = std::max<int>(0, RetryCursor); i < count; ++i) {
        const int16_t failures = m_comm.units().unitItem(ItemFailureCount, i);
        if (m_comm.sys().HoldsUnit(i) && m_comm.sys().cell(i, ColControl) == TableWord::On && failures >= 0 &&
            failures <= m_comm.sys().MonitorSettings().ReloadSize) {
            RetryCursor = int16_t(RetryCursor + 1 >= count ? 0 : RetryCursor + 1);
            return i;
        }
    }
    RetryCursor = 0;
    return -1;
}

bool MonitorCycle::dueNow() const
{
    return IsCycleDue(m_comm.units().CycleDue(0), m_comm.clock().now(), m_comm.sys().MonitorSettings());
}

void MonitorCycle::advanceDue()
{
    m_comm.units().SetCycleDue(
        0, NextCycleDue(m_comm.units().CycleDue(0), m_comm.clock().now(), m_comm.sys().MonitorSettings()));
}

void MonitorCycle::anchorTicks()
{
    m_anchorWall = m_comm.clock().now();
    m_anchorElapsed = m_comm.clock().elapsedMs();
    m_lastTick = -1;
}

qint64 MonitorCycle::ticksDue(QDateTime& due)
{
    const QDateTime now = m_comm.clock().now();
    const qint64 elapsed = m_comm.clock().elapsedMs() - m_anchorElapsed;
    // The wall clock moved by more than a timer's slip against the time that passed: it was set.
    constexpr qint64 SetClockMs = 2000;
    if (std::abs(m_anchorWall.msecsTo(now) - elapsed) > SetClockMs) {
        m_anchorWall = now.addMSecs(-elapsed);
        m_comm.dataLog().clockChanged();
        m_comm.events().clockChanged();
    }
    // A timer may fire a little early; a tick late by a second or more still takes its own
    // second, and the seconds it skipped are counted in.
    constexpr qint64 EarlyMs = 100;
    const qint64 tick = (elapsed + EarlyMs) / 1000;
    due = m_anchorWall.addMSecs(tick * 1000);
    const qint64 ticks = m_lastTick < 0 ? 1 : std::max<qint64>(0, tick - m_lastTick);
    m_lastTick = std::max(m_lastTick, tick);
    return ticks;
}

void MonitorCycle::MonitorTick()
{
    ReentryGuard guard(m_tickBusy);
    if (!guard.entered() || m_shutdown)
        return;
    // One shared due time: when it has come, every healthy monitored unit is sent its poll in
    // this tick and the due time moves on once. The tick never waits for an answer: a polled
    // unit's line waits for its answer (or for the next tick), the others are logged now.
    // The tick run at start polls every unit once, off the grid, so the first lines after a
    // start hold readings as soon as the units answer.
    const bool onGrid = dueNow();
    const bool due = onGrid || std::exchange(m_startPoll, false);
    QDateTime stamp;
    const qint64 ticks = ticksDue(stamp);
    // A minute at most: a longer gap is a machine that slept or froze, which nothing watched,
    // and stays a gap.
    constexpr qint64 MaxSkipped = 60;
    const qint64 skipped = ticks - 1 > MaxSkipped ? 0 : std::max<qint64>(0, ticks - 1);
    const int count = m_comm.sys().unitCount();
    for (int i = 0; i < count; ++i) {
        if (!m_comm.sys().HoldsUnit(i))
            continue;
        flushHeldLine(i); // still unanswered since the last tick: logged with what it holds
        for (qint64 k = skipped; k > 0; --k)
            logLine(i, stamp.addSecs(-k));
        Started started = Started::FailedAtOnce;
        if (due && m_comm.sys().cell(i, ColControl) == TableWord::On &&
            m_comm.units().unitItem(ItemFailureCount, i) == -1)
            started = lanMode() ? PollUnit(i, TimeOutSeconds(), Pass::Tick) : ReadRelayUnit(i, Pass::Tick);
        if (ticks == 0)
            continue; // off the grid (a page turned): this second has its lines
        if (started == Started::Yes) {
            m_lineHeld[i] = true;
            m_heldStamp[i] = stamp;
        } else {
            logLine(i, stamp);
        }
    }
    if (onGrid && running())
        advanceDue();
}

void MonitorCycle::RetryPass()
{
    if (m_retryRunning || m_shutdown)
        return;
    m_retryRunning = true;
    showActivity();
    retryNext();
}

// A pass asks one unit at a time and goes on only after a good answer.
void MonitorCycle::retryNext()
{
    const int u = NextRetryUnit();
    if (u < 0 || u >= m_comm.sys().unitCount()) {
        retryEnded();
        return;
    }
    const Started started = lanMode() ? PollUnit(u, TimeOutSeconds(), Pass::Retry) : ReadRelayUnit(u, Pass::Retry);
    if (started != Started::Yes)
        retryEnded();
}

void MonitorCycle::retryEnded()
{
    m_retryRunning = false;
    showActivity();
}

// --- buttons ---

void MonitorCycle::StartStop()
{
    if (running()) {
        stopMonitoring();
        RedrawRows();
        return;
    }
    if (m_comm.sys().unitCount() <= 0 || m_comm.sys().DeviceCount() <= 0)
        return;
    if (!(lanMode() || (m_comm.inet().InetInfValid() && HeaderListValid))) {
        m_comm.messages().show(QStringLiteral("設定リストが作成できませんでした"),
                               QStringLiteral("ファイルオープンエラー"), MessageBoxService::Icon::Exclamation,
                               MessageBoxService::Buttons::Ok);
        return;
    }
    m_screen.startCaption = QStringLiteral("停止");
    m_view.screenChanged();
    Timer1.setInterval(1000);
    Timer1.start();
    anchorTicks();
    m_monitoring = true;
    m_comm.events().started();
    const QDateTime now = m_comm.clock().now();
    m_comm.units().SetCycleStart(0, DateText::general(now));
    const auto& m = m_comm.sys().MonitorSettings();
    m_comm.units().SetCycleDue(0, DateText::general(DateText::addCycle(now, m.MoniterCycl, m.MoniterCyclType)));
    Timer2.start();
    m_startPoll = true;
    MonitorTick();
}

QString MonitorCycle::StartUnattended()
{
    if (running())
        return QString();
    QString why;
    if (!m_comm.sys().SysInfValid())
        why = QStringLiteral("システム情報ファイルに異常が認められます");
    else if (m_comm.sys().unitCount() <= 0 || m_comm.sys().DeviceCount() <= 0)
        why = QStringLiteral("監視するユニットが登録されていません");
    else if (!(lanMode() || (m_comm.inet().InetInfValid() && HeaderListValid)))
        why = QStringLiteral("設定リストが作成できませんでした");
    else
        StartStop();
    if (why.isEmpty() && !running())
        why = QStringLiteral("監視を開始できませんでした");
    if (!why.isEmpty()) {
        m_screen.panels[2] = why;
        m_view.screenChanged();
        m_comm.journal().Record(JournalEvent::StartRefused, -1, QString(), why);
    }
    return why;
}

void MonitorCycle::Page(int index)
{
    if (index == 1) {
        if (PageOffset + RowsPerPage < m_comm.sys().unitCount())
            PageOffset = int16_t(PageOffset + RowsPerPage);
    } else {
        PageOffset = int16_t(std::max(0, PageOffset - RowsPerPage));
    }
    RedrawRows();
    if (running())
        MonitorTick();
}

bool MonitorCycle::StopForWindow(bool redraw)
{
    if (running()) {
        const auto answer =
            m_comm.messages().show(QStringLiteral("モニタを停止します．よろしいですか？"), QStringLiteral("停止確認"),
                                   MessageBoxService::Icon::Question, MessageBoxService::Buttons::YesNo);
        if (answer != MessageBoxService::Answer::Yes)
            return false;
    }
    stopMonitoring();
    if (redraw)
        RedrawRows();
    return true;
}

// Every way into the stopped state: timers off, answers still out ignored, alarms and states
// cleared, and a stop of a running monitoring on record. Failure episodes end with it.
void MonitorCycle::stopMonitoring()
{
    m_screen.startCaption = QStringLiteral("開始");
    Timer1.stop();
    Timer2.stop();
    invalidate();
    if (std::exchange(m_monitoring, false))
        m_comm.events().stopped();
    m_givenUp.fill(false);
    ClearAllAlarms(nullptr);
    ResetUnitStates();
    m_view.screenChanged();
}

void MonitorCycle::cancelPoll(int unit)
{
    if (unit < 0 || unit >= m_comm.sys().unitCount() || !m_inFlight[unit])
        return;
    // Its answer no longer counts (the pause moves the generation on); what is left of it on
    // the lane ends now, whichever way the unit is reached.
    m_engine.cancel(SysInf::UnitKey(m_comm.sys().DeviceTable()[unit]));
    const QString name = m_comm.inet().RelayFileName(unit);
    if (!name.isEmpty())
        m_engine.cancel(relayUrl(name));
}

QString MonitorCycle::relayUrl(const QString& fileName) const
{
    return m_comm.inet().InternetSettings().URL + u'/' + fileName + QStringLiteral(".txt");
}

MonitorCycle::Paused MonitorCycle::PauseForDialog(int unit)
{
    Paused was{Timer1.isActive(), Timer2.isActive()};
    Timer1.stop();
    Timer2.stop();
    cancelPoll(unit);
    invalidate();
    ClearAllAlarms("paused");
    return was;
}

void MonitorCycle::ResumeAfterDialog(const Paused& was)
{
    if (m_shutdown)
        return;
    if (was.timer1) {
        Timer1.start();
        anchorTicks(); // the seconds of the pause have no lines
        MonitorTick();
    }
    if (was.timer2)
        Timer2.start();
    else
        Timer2.stop();
}

void MonitorCycle::Shutdown()
{
    if (m_shutdown)
        return;
    m_shutdown = true;
    invalidate();
    if (std::exchange(m_monitoring, false))
        m_comm.events().stopped(true); // the program ends while watching: the gap that follows is on record
    Timer1.stop();
    Timer2.stop();
    BeepTimer.stop();
}
