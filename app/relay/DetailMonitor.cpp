// The detail monitor's slots: start and stop, the cycle, the relay files and output requests.

#include "DetailMonitor.h"

#include "Clock.h"
#include "Conversions.h"
#include "CycleDue.h"
#include "DateText.h"
#include "DeviceLink.h"
#include "DialUpLine.h"
#include "FtpUpload.h"
#include "MessageBox.h"
#include "PollEngine.h"
#include "TableWords.h"
#include "TextFile.h"

#include <QFileInfo>
#include <algorithm>

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr qsizetype MaxLocalFile = 64 * 1024; // a relay file on disk larger than this is not ours
const QString MarkName = QStringLiteral("IjyouFile.txt");
} // namespace

struct DetailMonitor::Reading {
    std::array<int16_t, 4> analog{};
    int16_t raw = 0;
    std::array<int32_t, 8> pins{};
};

DetailMonitor::DetailMonitor(MontComm1& comm, PollEngine& engine, QObject* parent)
    : QObject(parent)
    , m_comm(comm)
    , m_engine(engine)
{
    for (int i = 0; i < Slots; ++i) {
        ftp1[i] = std::make_unique<FtpClient>(i, this);
        m_jobs[i] = std::make_unique<FtpUploadJob>(*ftp1[i], timFtp[i]);
        m_timer1[i].setInterval(CycleTickMs);
        connect(&m_timer1[i], &QTimer::timeout, this, [this, i] { Timer1Tick(i); });
    }
    m_statBarTimer.setInterval(StatBarMs);
    connect(&m_statBarTimer, &QTimer::timeout, this, &DetailMonitor::StatBarTick);
    m_beepTimer.setInterval(BeepMs);
    connect(&m_beepTimer, &QTimer::timeout, this, &DetailMonitor::BeepTick);
}

DetailMonitor::~DetailMonitor()
{
    for (auto& job : m_jobs)
        job.reset(); // before the controls: each aborts its control's step
    for (int i = 0; i < Slots; ++i)
        releaseLine(i);
}

// --- helpers ---

bool DetailMonitor::uploadSide() const
{
    return m_comm.inet().InternetSettings.Mode == 0 || m_comm.inet().InternetSettings.Mode == 3;
}

bool DetailMonitor::downloadSide() const
{
    return m_comm.inet().InternetSettings.Mode == 1 || m_comm.inet().InternetSettings.Mode == 2;
}

int DetailMonitor::unitOf(int slot) const
{
    const int u = Screen[slot].index;
    return u >= 0 && u < m_comm.sys().unitCount() ? u : -1;
}

QString DetailMonitor::unitName(int slot) const
{
    const int u = unitOf(slot);
    return u < 0 ? QString() : m_comm.sys().cell(u, ColName);
}

void DetailMonitor::setStatus(int slot, const QString& text, Tone tone)
{
    Screen[slot].status = text;
    Screen[slot].statusTone = tone;
    emit changed();
}

void DetailMonitor::warn(const QString& text, const QString& title)
{
    // Shown after the current step and never waited for: the slots go on under it.
    m_comm.messages().notify(text, title, MessageBoxService::Icon::Exclamation);
}

bool DetailMonitor::working() const
{
    return std::any_of(m_run.begin(), m_run.end(), [](const SlotRun& r) { return r.working; });
}

void DetailMonitor::beginWork(int slot)
{
    m_run[slot].working = true;
    emit changed();
}

void DetailMonitor::endWork(int slot)
{
    m_run[slot].working = false;
    emit changed();
    runFlips(slot); // a switch flipped meanwhile goes next, before any cycle
}

void DetailMonitor::onUnit(int slot, std::function<void(DeviceLink&)> work, std::function<void(bool)> done)
{
    const int u = unitOf(slot);
    if (u < 0) {
        done(false);
        return;
    }
    const DeviceRecord row = m_comm.sys().DeviceTable[u];
    const int32_t timeOut = m_comm.sys().MonitorSettings.TimeOut;
    m_engine.submit<bool>(
        SysInf::UnitKey(row), this,
        [row, timeOut, work = std::move(work)](PollEngine::Tools& tools) {
            try {
                if (!SysInf::AimUnitLink(tools.link, row, timeOut))
                    return false;
                work(tools.link);
                return true;
            } catch (...) {
                return false;
            }
        },
        guarded<bool>(slot, std::move(done)));
}

void DetailMonitor::fetch(int slot, const QString& url, std::function<void(std::optional<QString>)> done)
{
    fetchDocument(slot, url, [done = std::move(done)](Fetched f) { done(std::move(f.text)); });
}

void DetailMonitor::fetchDocument(int slot, const QString& url, std::function<void(Fetched)> done)
{
    const QString proxy = m_comm.inet().InternetSettings.ProxyServerName;
    const QString proxyPort = m_comm.inet().InternetSettings.ProxyPortNo;
    m_engine.submit<Fetched>(
        url, this,
        [url, proxy, proxyPort](PollEngine::Tools& tools) {
            InternetTransfer& t = tools.transfer;
            t.Proxy = proxy;
            t.ProxyPort = proxyPort;
            t.AccessType = proxy.isEmpty() ? InternetTransfer::Default : InternetTransfer::NamedProxy;
            Fetched f;
            try {
                QString doc = t.OpenURL(url);
                if (doc.size() > Relay::MaxTextLength)
                    f.unreadable = true;
                else
                    f.text = std::move(doc);
            } catch (const UnreadableDocument&) {
                f.unreadable = true;
            } catch (...) {
            }
            return f;
        },
        guarded<Fetched>(slot, std::move(done)));
}

void DetailMonitor::upload(int slot, const FtpTarget& target, const QString& name, std::function<void(int16_t)> done)
{
    auto report = guarded<int16_t>(slot, std::move(done));
    if (!m_jobs[slot]->start(target, m_comm.path(name), m_comm.ftpStepTimeOutMs(), report))
        QMetaObject::invokeMethod(
            this, [report] { report(-1); }, Qt::QueuedConnection);
}

QString DetailMonitor::sendFolderPath(const QString& name) const
{
    return m_comm.inet().InternetSettings.SendFordername.isEmpty() ? m_comm.path(name)
                                                                   : m_comm.files().SendFolderPath(name);
}

std::optional<QStringList> DetailMonitor::readRelayLines(const QString& path, int maxLines) const
{
    const auto bytes = TextFile::readBytes(path);
    if (!bytes || bytes->size() > MaxLocalFile)
        return std::nullopt;
    const auto text = TextFile::decode(*bytes);
    if (!text)
        return std::nullopt;
    QStringList lines;
    qsizetype start = 0;
    while (lines.size() < maxLines && start < text->size()) {
        qsizetype end = text->indexOf(u'\n', start);
        if (end < 0)
            end = text->size();
        QString line = text->mid(start, end - start);
        if (line.endsWith(u'\r'))
            line.chop(1);
        lines << line;
        start = end + 1;
    }
    return lines;
}

// --- activation and the selectors ---

void DetailMonitor::Activate()
{
    {
        for (int i = 0; i < Slots; ++i) {
            m_timer1[i].stop();
            SlotActive[i] = 0;
        }
        m_comm.sys().SysInfValid = m_comm.sys().LoadSysInf();
        m_comm.inet().InetInfValid = m_comm.inet().LoadInetInf();
        addressFieldsEnabled = m_comm.inet().InternetSettings.Mode != 1;
        const auto& m = m_comm.sys().MonitorSettings;
        const QString& t = m.MoniterCyclType;
        const QString unit = t == QLatin1String("h")   ? QStringLiteral(" 時間")
                             : t == QLatin1String("n") ? QStringLiteral(" 分")
                             : t == QLatin1String("s") ? QStringLiteral(" 秒")
                                                       : QString();
        panel1 = QStringLiteral(" モニタ周期：") + Conv::Str(m.MoniterCycl) + unit;
        SetModeCaption();
        panel2 = StatusModeText;
        QStringList names;
        for (int u = 0; u < m_comm.sys().unitCount(); ++u)
            names << m_comm.sys().cell(u, ColName);
        const int filled = std::min(m_comm.sys().unitCount(), Slots);
        for (int i = 0; i < Slots; ++i) {
            Screen[i].names = names;
            if (i < filled) {
                NameComboClick(i, i);
            } else {
                Screen[i].index = -1;
                Screen[i].ip.clear();
                StopSlot(i);
            }
        }
        if (m_timersEnabled)
            m_statBarTimer.start();
        emit changed();
    }
}

void DetailMonitor::SetModeCaption()
{
    StatusModeText = QStringLiteral("  通信モード ： ");
    switch (m_comm.inet().InternetSettings.Mode) {
    case 0:
        StatusModeText += QStringLiteral("アップロード");
        break;
    case 1:
        StatusModeText += QStringLiteral("ダウンロード");
        break;
    case 2:
        StatusModeText += QStringLiteral("ＬＡＮダウンロード");
        break;
    case 3:
        StatusModeText += m_comm.inet().InternetSettings.SendFordername.isEmpty()
                              ? QStringLiteral("ＬＡＮ（通常モード）")
                              : QStringLiteral("ＬＡＮアップロード");
        break;
    default:
        break;
    }
}

void DetailMonitor::NameComboClick(int slot, int index)
{
    Screen[slot].index = index;
    const int u = unitOf(slot);
    Screen[slot].ip = u < 0 ? QString() : m_comm.sys().cell(u, ColIP);
    StopSlot(slot);
}

void DetailMonitor::OpencmdClick(int slot)
{
    if (unitOf(slot) < 0)
        return;
    if (SlotActive[slot])
        StopSlot(slot); // at once, whatever the slot is doing
    else if (m_run[slot].working)
        return; // a start is under way
    else if (m_comm.inet().InternetSettings.Mode == 2 || m_comm.inet().InetInfValid)
        StartSlot(slot);
    else
        warn(QStringLiteral("ｲﾝﾀｰﾈｯﾄ設定ﾌｧｲﾙが読めません！"));
}

bool DetailMonitor::anyActive() const
{
    return std::any_of(SlotActive.begin(), SlotActive.end(), [](int16_t a) { return a != 0; });
}

void DetailMonitor::StopAll()
{
    for (int i = 0; i < Slots; ++i)
        if (SlotActive[i] || m_run[i].working)
            StopSlot(i);
}

// --- starting and stopping ---

bool DetailMonitor::CheckFileNameSet(int slot)
{
    return !m_comm.inet().RelayFileName(unitOf(slot)).isEmpty();
}

bool DetailMonitor::LoadParamLine(int slot)
{
    SlotParamLine[slot] = Relay::ParamLine(m_comm, unitOf(slot));
    if (SlotParamLine[slot].isEmpty()) {
        warn(QStringLiteral("システムファイルが開けません"));
        return false;
    }
    return true;
}

void DetailMonitor::dialUp(int slot, std::function<void(bool)> done)
{
    // Each slot that dials holds one lease of the station's line until it stops; the line is
    // hung up only when no slot (and no mail) holds it any more.
    const auto& s = m_comm.inet().InternetSettings;
    if (s.DialUpName.isEmpty() || m_run[slot].leased)
        return done(true);
    m_run[slot].leased = true;
    m_comm.dialUpLine().acquire(s.DialUpName, s.DialUpUser, s.DialUpPass, this,
                                guarded<int32_t>(slot, std::function<void(int32_t)>([this, done](int32_t rc) {
                                                     if (rc == 0)
                                                         return done(true);
                                                     m_comm.messages().notify(
                                                         QStringLiteral("ダイアルアップ接続に失敗しました"),
                                                         QStringLiteral("ダウンロード"), MessageBoxService::Icon::None);
                                                     done(false);
                                                 })));
}

void DetailMonitor::releaseLine(int slot)
{
    if (!m_run[slot].leased)
        return; // a second stop has nothing to give back
    m_run[slot].leased = false;
    m_comm.dialUpLine().release();
}

void DetailMonitor::StartSlot(int slot)
{
    SlotScreen& screen = Screen[slot];
    if (screen.busy || m_run[slot].working)
        return;
    beginWork(slot);
    screen.busy = true;
    emit changed();
    if (!CheckFileNameSet(slot)) {
        screen.busy = false;
        warn(QStringLiteral("ﾊﾟﾗﾒｰﾀﾌｧｲﾙを設定して下さい"));
        endWork(slot);
        return;
    }
    auto prepared = [this, slot](bool ok) {
        Screen[slot].busy = false;
        emit changed();
        if (!ok) {
            releaseLine(slot);
            endWork(slot);
            return;
        }
        OpenSlotLink(slot, [this, slot](bool linked) {
            SlotScreen& screen = Screen[slot];
            if (!linked) {
                setStatus(slot, QStringLiteral("接続ｴﾗｰ"), Tone::Bad);
                releaseLine(slot); // a failed start holds no line
                endWork(slot);
                return;
            }
            ArmOutputSwitches(slot);
            restartGrid(slot);
            SlotActive[slot] = -1;
            startTimer(slot);
            screen.openCaption = QStringLiteral("切断");
            screen.selectorEnabled = false;
            setStatus(slot, QStringLiteral("接続中"), Tone::Good);
            PrepareSlotDisplay(slot);
            endWork(slot);
        });
    };
    if (uploadSide())
        startUploadSlot(slot, prepared);
    else
        startDownloadSlot(slot, prepared);
}

void DetailMonitor::OpenSlotLink(int slot, std::function<void(bool)> done)
{
    if (downloadSide()) {
        done(true);
        return;
    }
    onUnit(
        slot, [](DeviceLink& link) { link.GetDirp(UnitMap::PortA, UnitMap::TemperatureChannel); }, std::move(done));
}

void DetailMonitor::startUploadSlot(int slot, std::function<void(bool)> done)
{
    const bool lan = m_comm.inet().InternetSettings.Mode == 3;
    auto prepare = [this, slot, lan, done] {
        if (!LoadParamLine(slot))
            return done(false);
        resetRequestFile(
            slot, Relay::RequestFileName(m_comm, unitOf(slot)), 0, [this, lan, done](bool idle, QString err) {
                if (idle)
                    return done(true);
                if (err.isEmpty())
                    err = lan ? QStringLiteral("アップロードエラー(LAN)") : QStringLiteral("アップロードエラー");
                warn(QStringLiteral("出力処理ファイルの初期化に失敗しました"), err);
                done(false);
            });
    };
    if (lan)
        return prepare();
    dialUp(slot, [prepare, done](bool up) {
        if (!up)
            return done(false);
        prepare();
    });
}

void DetailMonitor::resetRequestFile(int slot, const QString& name, int attempt,
                                     std::function<void(bool, QString)> done)
{
    // Up to three resets, each read back; an error in the reset itself ends them.
    auto check = [this, slot, name, attempt, done](const QString& err) {
        if (!err.isEmpty())
            return done(false, err);
        UpLdFileChk(name, QString(), slot, [this, slot, name, attempt, done](bool idle) {
            if (idle || attempt + 1 >= 3)
                return done(idle, QString());
            resetRequestFile(slot, name, attempt + 1, done);
        });
    };
    if (m_comm.inet().InternetSettings.Mode == 3) {
        if (m_comm.files().CreateRelayFile(name))
            return done(false, QString());
        check(QString());
    } else {
        ClearRequestFile(name, slot, check);
    }
}

void DetailMonitor::startDownloadSlot(int slot, std::function<void(bool)> done)
{
    if (!LoadParamLine(slot))
        return done(false);
    auto check = [this, slot, done] {
        CheckRemoteParams(slot, [this, slot, done](bool ok) {
            if (ok)
                for (int p = 0; p < 8; ++p)
                    PendingCount[slot * 8 + p] = m_comm.inet().InternetSettings.NotReadSize;
            done(ok);
        });
    };
    if (m_comm.inet().InternetSettings.Mode != 1)
        return check();
    dialUp(slot, [check, done](bool up) {
        if (!up)
            return done(false);
        check();
    });
}

void DetailMonitor::fetchRelayFile(int slot, const QString& url, const QString& dataName, int attempt,
                                   std::function<void(std::optional<QString>)> done)
{
    // Up to four fetches while a stale or foreign document comes back.
    fetch(slot, url, [this, slot, url, dataName, attempt, done](std::optional<QString> text) {
        if (!text || text->startsWith(dataName) || attempt + 1 >= 4)
            return done(std::move(text));
        fetchRelayFile(slot, url, dataName, attempt + 1, done);
    });
}

void DetailMonitor::CheckRemoteParams(int slot, std::function<void(bool)> done)
{
    const QString dataName = Relay::DataFileName(m_comm, unitOf(slot));
    auto fetchFailed = [this, done] {
        warn(QStringLiteral("パラメータファイルをダウンロード") + CrLf + QStringLiteral("できませんでした"));
        done(false);
    };
    auto judge = [this, slot, done](bool found, const QString& text) {
        if (!found) {
            warn(QStringLiteral("パラメータファイルがダウンロードできません") + CrLf +
                 QStringLiteral("アップロード側が接続しているか、又は") + CrLf +
                 QStringLiteral("通信設定が正しいか確認して下さい"));
            return done(false);
        }
        // The whole first line must agree: a longer line (more fields) is another layout.
        QString first = text.section(u'\n', 0, 0);
        if (first.endsWith(u'\r'))
            first.chop(1);
        if (first == SlotParamLine[slot])
            return done(true);
        warn(QStringLiteral("入出力タイプ設定がアップロード側と") + CrLf + QStringLiteral("異なっています"));
        done(false);
    };
    if (m_comm.inet().InternetSettings.Mode == 2) {
        const auto lines = readRelayLines(m_comm.path(dataName), 4);
        if (!lines || lines->isEmpty())
            return fetchFailed();
        for (const QString& line : *lines)
            if (line.startsWith(dataName))
                return judge(true, line);
        if (lines->size() < 4)
            return fetchFailed(); // the file ended before the fourth attempt
        return judge(false, QString());
    }
    fetchRelayFile(slot, m_comm.inet().InternetSettings.URL + u'/' + dataName, dataName, 0,
                   [fetchFailed, judge, dataName](std::optional<QString> text) {
                       if (!text)
                           return fetchFailed();
                       judge(text->startsWith(dataName), *text);
                   });
}

void DetailMonitor::StopSlot(int slot)
{
    // Whatever the slot was doing is dropped: its callbacks find the generation moved on.
    SlotRun& run = m_run[slot];
    ++run.generation;
    m_jobs[slot]->cancel();
    run.working = false;
    run.markWanted = false;
    for (int held : run.flipsHeld)
        m_switchOps -= held; // flips of a stopped slot are not carried out
    run.flips.clear();
    run.flipsHeld.fill(0);
    m_timer1[slot].stop();
    const int u = unitOf(slot);
    if (m_comm.inet().InternetSettings.Mode == 0 && u >= 0) {
        const QString name = Relay::DataFileName(m_comm, u);
        if (!name.isEmpty())
            m_comm.files().DeleteLocalFile(name);
    }
    SlotActive[slot] = 0;
    SlotScreen& screen = Screen[slot];
    screen.busy = false;
    screen.openCaption = QStringLiteral("接続");
    screen.selectorEnabled = true;
    screen.selectorAlert = false;
    screen.status = QStringLiteral("切断");
    screen.statusTone = Tone::Window;
    SetAlarmState(false, slot);
    ResetSwitches(slot);
    releaseLine(slot);
    ClearSlotDisplay(slot);
}

void DetailMonitor::startTimer(int slot)
{
    if (m_timersEnabled)
        m_timer1[slot].start();
}

void DetailMonitor::restartGrid(int slot)
{
    const QDateTime now = m_comm.clock().now();
    const auto& m = m_comm.sys().MonitorSettings;
    m_comm.units().CycleStart[slot] = DateText::general(now);
    m_comm.units().CycleDue[slot] = DateText::general(DateText::addCycle(now, m.MoniterCycl, m.MoniterCyclType));
}

// --- the slot display ---

void DetailMonitor::ResetSwitches(int slot)
{
    for (int p = 0; p < 8; ++p) {
        Screen[slot].switchOn[p] = false;
        Screen[slot].switchArmed[p] = false;
    }
    emit changed();
}

void DetailMonitor::ArmOutputSwitches(int slot)
{
    const int u = unitOf(slot);
    for (int p = 0; p < 8; ++p)
        Screen[slot].switchArmed[p] = u >= 0 && m_comm.sys().cell(u, ColRB0 + p) == TableWord::Dout;
    emit changed();
}

void DetailMonitor::PrepareSlotDisplay(int slot)
{
    const int u = unitOf(slot);
    for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
        if (u >= 0 && m_comm.sys().cell(u, ColRA0 + k) == TableWord::Ain) {
            Screen[slot].values[k].clear();
            Screen[slot].valueActive[k] = true;
        }
    }
    Screen[slot].values[4].clear();
    Screen[slot].valueActive[4] = true;
    emit changed();
}

void DetailMonitor::ClearSlotDisplay(int slot)
{
    SlotScreen& screen = Screen[slot];
    for (int k = 0; k < 5; ++k) {
        screen.values[k].clear();
        screen.valueActive[k] = false;
    }
    screen.inputLed.fill(Led::Empty);
    screen.outputLed.fill(Led::Empty);
    screen.inputAlarm.fill(false);
    screen.outputAlarm.fill(false);
    emit changed();
}

// --- the cycle ---

void DetailMonitor::Timer1Tick(int slot)
{
    // A tick while the slot works (or a flip waits for it) is skipped; a due time it missed is
    // caught up next tick. Other slots are not held by it.
    const SlotRun& run = m_run[slot];
    if (!SlotActive[slot] || run.working || !run.flips.empty())
        return;
    if (!IsCycleDue(m_comm.units().CycleDue[slot], m_comm.clock().now(), m_comm.sys().MonitorSettings))
        return;
    runCycle(slot);
}

void DetailMonitor::runCycle(int slot)
{
    beginWork(slot);
    Screen[slot].busy = true;
    emit changed();
    Next after = [this, slot] {
        const int u = unitOf(slot);
        if (u >= 0)
            m_comm.files().WriteDataLog(u);
        Screen[slot].busy = false;
        m_comm.units().CycleDue[slot] =
            NextCycleDue(m_comm.units().CycleDue[slot], m_comm.clock().now(), m_comm.sys().MonitorSettings);
        endWork(slot);
    };
    if (uploadSide())
        PollSlotUnit(slot, [this, slot, after] { ServeOutputRequest(slot, after); });
    else
        ShowRelayedData(slot, after);
}

void DetailMonitor::PollSlotUnit(int slot, Next next)
{
    const int u = unitOf(slot);
    if (u < 0)
        return next();
    std::array<bool, 4> ain{};
    for (int k = 0; k < UnitMap::AnalogChannels; ++k)
        ain[k] = m_comm.sys().cell(u, ColRA0 + k) == TableWord::Ain;
    auto r = std::make_shared<Reading>();
    auto read = [ain, r](DeviceLink& link) {
        for (int k = 0; k < UnitMap::AnalogChannels; ++k)
            if (ain[k])
                r->analog[k] = link.GetAnalog(UnitMap::PortA, int16_t(k));
        r->raw = link.GetAnalog(UnitMap::PortA, UnitMap::TemperatureChannel);
        for (int p = 0; p < UnitMap::PortBPins; ++p)
            r->pins[p] = link.GetPin(UnitMap::PortB, int16_t(p));
    };
    const uint64_t generation = m_run[slot].generation;
    onUnit(slot, read, [this, slot, u, ain, r, next, generation](bool ok) {
        if (!ok || unitOf(slot) != u) {
            setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
            return next();
        }
        SlotScreen& screen = Screen[slot];
        Relay::UploadValues& values = UploadValues[slot];
        for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
            // A channel that is not an input carries 0 in the data line: readers skip it.
            values[k] = ain[k] ? r->analog[k] : 0;
            if (ain[k]) {
                screen.values[k] = QString::number(r->analog[k]);
                m_comm.units().unitItem(k, u) = r->analog[k];
            }
        }
        m_comm.units().unitItem(ItemTemperature, u) = r->raw;
        const double degrees = Conv::RoundHalfEven(r->raw / UnitMap::DegreeFactor);
        values[4] = int16_t(degrees);
        screen.values[4] = Conv::Str(degrees) + QStringLiteral(" ℃");
        const AlarmRule rule = m_comm.sys().ArmRule(u);
        for (int p = 0; p < UnitMap::PortBPins; ++p) {
            const auto level = int16_t(std::clamp<int32_t>(r->pins[p], -32768, 32767));
            m_comm.units().unitItem(ItemRB0 + p, u) = level;
            values[5 + p] = level;
            const int kind = m_comm.sys().GetPinType(u, UnitMap::PortB, p);
            const Led led = r->pins[p] != 0 ? Led::On : Led::Off;
            if (kind == 1) {
                screen.inputLed[p] = led;
            } else if (kind == 0) {
                screen.outputLed[p] = led;
                if (!flipHeld(slot, p)) // the operator's choice waits to be carried out
                    screen.switchOn[p] = r->pins[p] != 0;
            }
            if ((kind == 0 || kind == 1) && rule.kind == AlarmRule::Kind::Digital && rule.pin == p)
                CheckDigitalAlarm(slot, kind, slot * 8 + p, r->pins[p] != 0);
        }
        if (m_run[slot].generation != generation)
            return; // stopped while the alarm mail ran
        setStatus(slot, QStringLiteral("接続中"), Tone::Good);
        postMark(slot, [this, slot, next] {
            WriteAndSendDataFile(slot, [this, slot, next](bool sent) {
                if (!sent)
                    setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
                next();
            });
        });
    });
}

void DetailMonitor::CheckDigitalAlarm(int slot, int kind, int led, bool high)
{
    const int u = unitOf(slot);
    const QString condition = m_comm.sys().GetArmField(u, 2);
    const QString level = high ? TableWord::High : TableWord::Low;
    SlotScreen& screen = Screen[slot];
    if (level != condition) {
        if (SlotAlarm[slot] == AlarmRaised || SlotAlarm[slot] == AlarmAcknowledged) {
            screen.inputAlarm[led % 8] = false;
            screen.outputAlarm[led % 8] = false;
            screen.selectorAlert = false;
            SetAlarmState(false, slot);
        }
        return;
    }
    if (SlotAlarm[slot] != AlarmClear)
        return;
    (kind == 1 ? screen.inputAlarm : screen.outputAlarm)[led % 8] = true;
    screen.selectorAlert = true;
    SetAlarmState(true, slot);
    m_comm.alarms().SendAlarmMail(m_comm.sys().cell(u, ColName));
    if (m_comm.inet().HasCameraFolder())
        m_run[slot].markWanted = true; // sent through the slot's control as the cycle's next step
}

void DetailMonitor::postMark(int slot, Next next)
{
    if (!m_run[slot].markWanted)
        return next();
    m_run[slot].markWanted = false;
    TextFile::writeWholeBytes(m_comm.path(MarkName), QByteArrayLiteral("!!\r\n"));
    QStringList folders;
    for (int i = 0; i < 4; ++i)
        if (!m_comm.inet().InternetSettings.Camera[i].isEmpty())
            folders << m_comm.inet().InternetSettings.Camera[i];
    postMarkTo(slot, folders, next);
}

void DetailMonitor::postMarkTo(int slot, QStringList folders, Next next)
{
    // One camera folder after the other; a failing one does not stop the next.
    if (folders.isEmpty())
        return next();
    FtpTarget target = FtpTarget::of(m_comm.inet().InternetSettings);
    target.remoteDir = folders.takeFirst();
    upload(slot, target, MarkName, [this, slot, folders, next](int16_t code) {
        if (code == 1 || code == 2 || code == 8)
            ftp1[slot]->ResetTransfer();
        postMarkTo(slot, folders, next);
    });
}

void DetailMonitor::SetAlarmState(bool raise, int slot)
{
    if (slot >= 0 && slot < Slots)
        SlotAlarm[slot] = raise ? AlarmRaised : AlarmClear;
    const bool beeping = std::any_of(SlotAlarm.begin(), SlotAlarm.end(), [](int16_t a) { return a == AlarmRaised; });
    if (beeping && m_timersEnabled)
        m_beepTimer.start();
    else if (!beeping)
        m_beepTimer.stop();
    beepResetVisible = beeping;
    emit changed();
}

void DetailMonitor::BeepResetClick()
{
    for (auto& a : SlotAlarm)
        if (a == AlarmRaised)
            a = AlarmAcknowledged;
    SetAlarmState(false, -1);
}

void DetailMonitor::BeepTick()
{
    emit beep();
}

void DetailMonitor::StatBarTick()
{
    panel2 = StatusErrorPending ? StatusErrorText : StatusModeText;
    StatusErrorPending = false;
    emit changed();
}

// --- the relay files ---

void DetailMonitor::UpLdFileChk(const QString& name, const QString& expected, int slot, std::function<void(bool)> done)
{
    const QString wanted = expected + CrLf;
    if (m_comm.inet().InternetSettings.Mode == 0 || m_comm.inet().InternetSettings.Mode == 1) {
        fetch(slot, m_comm.inet().InternetSettings.URL + u'/' + name,
              [wanted, done](std::optional<QString> text) { done(text && *text == wanted); });
        return;
    }
    // Exactly the lines that were written are read back: a request line names a ".txt" file
    // too, and is still one line.
    const int lineCount = int(expected.count(CrLf)) + 1;
    const auto lines = readRelayLines(sendFolderPath(name), lineCount);
    if (!lines || lines->size() < lineCount)
        return done(false);
    QString text;
    for (const QString& line : *lines)
        text += line + CrLf;
    done(text == wanted);
}

void DetailMonitor::ClearRequestFile(const QString& name, int slot, std::function<void(QString)> done)
{
    if (!TextFile::writeWholeBytes(m_comm.path(name), QByteArrayLiteral("\r\n")))
        return done(FtpErrorText(-1, QString()));
    upload(slot, FtpTarget::of(m_comm.inet().InternetSettings), name, [this, slot, name, done](int16_t code) {
        if (code == 1 || code == 2 || code == 8)
            ftp1[slot]->ResetTransfer();
        done(FtpErrorText(code, m_comm.path(name)));
    });
}

void DetailMonitor::WriteAndSendDataFile(int slot, std::function<void(bool)> done)
{
    const int u = unitOf(slot);
    const QString name = Relay::DataFileName(m_comm, u);
    const QString line = Relay::DataLine(m_comm.clock().now(), UploadValues[slot]);
    auto fail = [this, slot, done](const QString& err) {
        StatusErrorText = err + QStringLiteral(" ： ") + unitName(slot);
        StatusErrorPending = true;
        done(false);
    };
    const QString writeError = QStringLiteral("  データファイル書き込みエラー");
    if (name.isEmpty() || !TextFile::writeWhole(m_comm.path(name), Relay::DataFileText(SlotParamLine[slot], line)))
        return fail(writeError);
    const QString expected = SlotParamLine[slot] + CrLf + line;
    auto verify = [this, slot, name, expected, done, fail, writeError] {
        UpLdFileChk(name, expected, slot, [done, fail, writeError](bool same) {
            if (same)
                return done(true);
            fail(writeError);
        });
    };
    if (m_comm.inet().InternetSettings.Mode == 0) {
        upload(slot, FtpTarget::of(m_comm.inet().InternetSettings), name,
               [this, slot, name, verify, fail](int16_t code) {
                   if (code == 0)
                       return verify();
                   if (code == 1 || code == 2 || code == 8)
                       ftp1[slot]->ResetTransfer();
                   fail(FtpErrorText(code, m_comm.path(name)));
               });
        return;
    }
    if (!m_comm.inet().InternetSettings.SendFordername.isEmpty())
        m_comm.files().CopyToSendFolder(name); // a failed copy shows in the check below
    verify();
}

void DetailMonitor::ShowRelayedData(int slot, Next next)
{
    const int u = unitOf(slot);
    const QString dataName = Relay::DataFileName(m_comm, u);
    auto show = [this, slot, u, dataName, next](std::optional<QString> text) {
        SlotRelayText[slot] = text.value_or(QString());
        if (!text || u < 0 || unitOf(slot) != u) {
            setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
            return next();
        }
        const uint64_t generation = m_run[slot].generation;
        showRelayText(slot, u, dataName);
        if (m_run[slot].generation != generation)
            return; // stopped while the alarm mail ran
        postMark(slot, next);
    };
    if (m_comm.inet().InternetSettings.Mode == 2) {
        const auto lines = readRelayLines(m_comm.path(dataName), 2);
        if (lines && lines->size() == 2)
            return show(lines->at(0) + CrLf + lines->at(1) + CrLf);
        return show(std::nullopt);
    }
    fetchRelayFile(slot, m_comm.inet().InternetSettings.URL + u'/' + dataName, dataName, 0, show);
}

void DetailMonitor::showRelayText(int slot, int u, const QString& dataName)
{
    const auto failed = [&] { setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad); };
    Relay::RelayData data;
    switch (Relay::ParseText(SlotRelayText[slot], dataName, SlotParamLine[slot], data)) {
    case Relay::Check::NotDataFile:
        StatusErrorText = QStringLiteral("  ダウンロードエラー ： ") + unitName(slot);
        StatusErrorPending = true;
        return failed();
    case Relay::Check::TypesDiffer:
        StatusErrorText = QStringLiteral("  入出力タイプ設定エラー ： ") + unitName(slot);
        StatusErrorPending = true;
        return failed();
    case Relay::Check::BadData:
        return failed();
    case Relay::Check::Ok:
        break;
    }
    SlotScreen& screen = Screen[slot];
    for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
        if (m_comm.sys().cell(u, ColRA0 + k) == TableWord::Ain) {
            screen.values[k] = data.fields[2 + k];
            m_comm.units().unitItem(k, u) = data.values[k];
        }
    }
    screen.values[4] = data.fields[6] + QStringLiteral(" ℃");
    // The log line of this cycle records what was relayed; the temperature item holds the raw
    // equivalent, as a polled unit's does.
    if (const auto raw = Conv::CInt16(data.values[4] * UnitMap::DegreeFactor))
        m_comm.units().unitItem(ItemTemperature, u) = *raw;
    const AlarmRule rule = m_comm.sys().ArmRule(u);
    const int16_t notRead = m_comm.inet().InternetSettings.NotReadSize;
    for (int p = 0; p < UnitMap::PortBPins; ++p) {
        const bool high = data.values[5 + p] != 0;
        m_comm.units().unitItem(ItemRB0 + p, u) = data.values[5 + p];
        const int kind = m_comm.sys().GetPinType(u, UnitMap::PortB, p);
        const int s = slot * 8 + p;
        const Led led = high ? Led::On : Led::Off;
        if (kind == 1) {
            screen.inputLed[p] = led;
        } else if (kind == 0 && !flipHeld(slot, p)) { // a flip waiting to be posted keeps its level
            if (PendingCount[s] < notRead) {
                if (screen.switchOn[p] == high) {
                    PendingCount[s] = notRead;
                    screen.outputLed[p] = led;
                } else {
                    ++PendingCount[s];
                }
            } else {
                screen.switchOn[p] = high;
                screen.outputLed[p] = led;
            }
        }
        if ((kind == 0 || kind == 1) && rule.kind == AlarmRule::Kind::Digital && rule.pin == p)
            CheckDigitalAlarm(slot, kind, s, high);
    }
    emit changed();
    if (m_comm.files().IsDataFresh(data.stamp)) {
        setStatus(slot, QStringLiteral("接続中"), Tone::Good);
        return;
    }
    StatusErrorText = QStringLiteral("  タイムアウトエラー ： ") + unitName(slot);
    StatusErrorPending = true;
    failed();
}

// --- output switches and requests ---

void DetailMonitor::RevertSwitch(int s)
{
    bool& on = Screen[s / 8].switchOn[s % 8];
    on = !on;
    emit changed();
}

void DetailMonitor::SwitchFlipped(int s, bool on)
{
    if (s < 0 || s >= Slots * 8)
        return;
    const int slot = s / 8;
    const int pin = s % 8;
    Screen[slot].switchOn[pin] = on;
    // Carried out with this level once the slot's work has ended; until then nothing the
    // cycle reads overwrites it.
    SlotRun& run = m_run[slot];
    run.flips.emplace_back(pin, on);
    ++run.flipsHeld[pin];
    ++m_switchOps;
    emit changed();
    runFlips(slot);
}

void DetailMonitor::runFlips(int slot)
{
    SlotRun& run = m_run[slot];
    if (run.working || run.flips.empty())
        return;
    const auto [pin, on] = run.flips.front();
    run.flips.pop_front();
    beginWork(slot);
    const int s = slot * 8 + pin;
    Next finished = guarded<>(slot, Next([this, slot, pin] {
                                  --m_run[slot].flipsHeld[pin];
                                  --m_switchOps;
                                  endWork(slot);
                              }));
    if (!Screen[slot].switchArmed[pin]) {
        RevertSwitch(s);
        return finished();
    }
    const int u = unitOf(slot);
    if (u < 0 || m_comm.sys().GetPinType(u, UnitMap::PortB, pin) != 0 || !SlotActive[slot])
        return finished();
    m_timer1[slot].stop();
    OutUnit = int16_t(slot);
    OutPort = UnitMap::PortB;
    OutPin = int16_t(pin);
    Next restart = [this, slot, finished] {
        if (SlotActive[slot]) { // the slot's cycle grid restarts from now
            restartGrid(slot);
            startTimer(slot);
        }
        finished();
    };
    if (downloadSide())
        PostOutputRequest(slot, pin, on, restart);
    else
        SetOutputDirect(slot, pin, on, restart);
}

void DetailMonitor::SetOutputDirect(int slot, int pin, bool on, Next next)
{
    const int32_t port = UnitMap::PortB;
    onUnit(
        slot, [=](DeviceLink& link) { link.SetPin(port, int16_t(pin), on ? 1 : 0); },
        [this, slot, pin, on, next](bool ok) {
            if (!ok) {
                setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad); // the switch keeps its position
                return next();
            }
            Screen[slot].outputLed[pin] = on ? Led::On : Led::Off;
            setStatus(slot, QStringLiteral("接続中"), Tone::Good);
            next();
        });
}

void DetailMonitor::PostOutputRequest(int slot, int pin, bool on, Next next)
{
    const int s = slot * 8 + pin;
    const QString name = Relay::RequestFileName(m_comm, unitOf(slot));
    auto refused = [this, s, next] {
        warn(QStringLiteral("前の出力処理が完了していません"));
        RevertSwitch(s);
        next();
    };
    if (name.isEmpty())
        return refused();
    UpLdFileChk(name, QString(), slot, [this, slot, pin, on, s, name, refused, next](bool idle) {
        if (!idle)
            return refused();
        const QString token = InetInf::ScramblePass(QStringLiteral("SET"), m_comm.inet().InternetSettings.PassWord);
        const QString line = Relay::RequestLine(token, name, UnitMap::PortB, pin, on);
        if (!TextFile::writeWhole(m_comm.path(name), line + CrLf)) {
            setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
            RevertSwitch(s);
            return next();
        }
        const bool internet = m_comm.inet().InternetSettings.Mode == 1;
        auto notPosted = [this, slot, s, next](const QString& title) {
            warn(QStringLiteral(" アップロード出来ません！ "), title);
            setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
            RevertSwitch(s);
            next();
        };
        auto verify = [this, slot, pin, s, name, line, internet, notPosted, next] {
            UpLdFileChk(name, line, slot, [this, slot, pin, s, name, internet, notPosted, next](bool posted) {
                if (!posted)
                    return notPosted(QString());
                if (internet)
                    m_comm.files().DeleteLocalFile(name);
                Screen[slot].outputLed[pin] = Led::Wait;
                PendingCount[s] = 0;
                setStatus(slot, QStringLiteral("接続中"), Tone::Good);
                next();
            });
        };
        if (!internet)
            return verify();
        upload(slot, FtpTarget::of(m_comm.inet().InternetSettings), name,
               [this, slot, name, verify, notPosted](int16_t code) {
                   const QString title = FtpErrorText(code, m_comm.path(name));
                   if (code == 1 || code == 2 || code == 8)
                       ftp1[slot]->ResetTransfer();
                   if (code >= 0 && code <= 2)
                       return verify(); // a late send may still have landed: the read-back decides
                   notPosted(title);
               });
    });
}

void DetailMonitor::ServeOutputRequest(int slot, Next next)
{
    const int u = unitOf(slot);
    const QString name = Relay::RequestFileName(m_comm, u);
    if (name.isEmpty())
        return next();
    auto serve = [this, slot, u, name, next](const QString& text) {
        const QString token = InetInf::ScramblePass(QStringLiteral("SET"), m_comm.inet().InternetSettings.PassWord);
        Relay::OutputRequest request;
        const Relay::Request kind = Relay::ParseRequest(text, token, name, request);
        if (kind == Relay::Request::None)
            return next();
        // Consume it first: a request is carried out at most once, even if the unit then fails.
        QString requestLine = text.section(u'\n', 0, 0);
        if (requestLine.endsWith(u'\r'))
            requestLine.chop(1);
        consumeRequest(slot, name, requestLine, 0, [this, slot, u, kind, request, next] {
            if (kind == Relay::Request::OtherFile)
                return next();
            // Only what the operator's own table allows: a port B pin that is an output here.
            const bool allowed =
                request.port != UnitMap::PortB || m_comm.sys().GetPinType(u, UnitMap::PortB, request.pin) == 0;
            if (kind == Relay::Request::Bad || unitOf(slot) != u || !allowed) {
                setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
                return next();
            }
            OutPort = request.port;
            OutPin = int16_t(request.pin);
            if (!request.hasLevel) {
                setStatus(slot, QStringLiteral("接続中"), Tone::Good);
                return next();
            }
            const int32_t port = request.port;
            const auto pin = int16_t(request.pin);
            const bool high = request.high;
            onUnit(
                slot, [=](DeviceLink& link) { link.SetPin(port, pin, high ? 1 : 0); },
                [this, slot, port, pin, high, next](bool ok) {
                    if (!ok) {
                        setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
                        return next();
                    }
                    if (port == UnitMap::PortB) { // port A has no switches to show it on
                        Screen[slot].outputLed[pin] = high ? Led::On : Led::Off;
                        if (!flipHeld(slot, pin)) // the operator's own flip goes after it
                            Screen[slot].switchOn[pin] = high;
                    }
                    setStatus(slot, QStringLiteral("接続中"), Tone::Good);
                    next();
                });
        });
    };
    // A request file that is there but cannot be read as one (too large, not CP932) would
    // block every later request: it is reset like a consumed request and reported.
    if (m_comm.inet().InternetSettings.Mode == 0) {
        fetchDocument(slot, m_comm.inet().InternetSettings.URL + u'/' + name,
                      [this, slot, name, serve, next](Fetched f) {
                          if (f.unreadable)
                              return discardRequest(slot, name, next);
                          if (!f.text)
                              return next();
                          serve(*f.text);
                      });
        return;
    }
    const QString path = sendFolderPath(name);
    const auto lines = readRelayLines(path, 1);
    if (!lines)
        return QFileInfo(path).isFile() ? discardRequest(slot, name, next) : next();
    if (lines->isEmpty())
        return next();
    serve(lines->at(0));
}

void DetailMonitor::discardRequest(int slot, const QString& name, Next next)
{
    resetRequestFile(slot, name, 0, [this, slot, next](bool, const QString&) {
        setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
        next();
    });
}

void DetailMonitor::consumeRequest(int slot, const QString& name, const QString& requestLine, int attempt, Next next)
{
    // Up to three resets, until the file no longer holds the request.
    auto check = [this, slot, name, requestLine, attempt, next] {
        UpLdFileChk(name, requestLine, slot, [this, slot, name, requestLine, attempt, next](bool stillThere) {
            if (!stillThere || attempt + 1 >= 3)
                return next();
            consumeRequest(slot, name, requestLine, attempt + 1, next);
        });
    };
    if (m_comm.inet().InternetSettings.Mode == 0) {
        ClearRequestFile(name, slot, [check](const QString&) { check(); });
    } else {
        m_comm.files().CreateRelayFile(name);
        check();
    }
}
