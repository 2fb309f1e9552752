// The detail monitor's slots: start and stop, the cycle, the relay files and output requests.

#include "DetailMonitor.h"

#include "Clock.h"
#include "Conversions.h"
#include "CycleDue.h"
#include "DateText.h"
#include "DeviceLink.h"
#include "FtpUpload.h"
#include "MessageBox.h"
#include "PollEngine.h"
#include "TableWords.h"
#include "TextFile.h"

#include <algorithm>

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr qsizetype MaxLocalFile = 64 * 1024; // a relay file on disk larger than this is not ours

void warn(MontComm1& comm, const QString& text, const QString& title = QString())
{
    comm.messages().show(text, title, MessageBoxService::Icon::Exclamation, MessageBoxService::Buttons::Ok);
}
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
        ConnectFtpEvents(m_comm, *ftp1[i], timFtp);
        m_timer1[i].setInterval(CycleTickMs);
        connect(&m_timer1[i], &QTimer::timeout, this, [this, i] { Timer1Tick(i); });
    }
    m_statBarTimer.setInterval(StatBarMs);
    connect(&m_statBarTimer, &QTimer::timeout, this, &DetailMonitor::StatBarTick);
    m_beepTimer.setInterval(BeepMs);
    connect(&m_beepTimer, &QTimer::timeout, this, &DetailMonitor::BeepTick);
}

DetailMonitor::~DetailMonitor() = default;

// --- helpers ---

bool DetailMonitor::uploadSide() const
{
    return m_comm.InternetSettings.Mode == 0 || m_comm.InternetSettings.Mode == 3;
}

bool DetailMonitor::downloadSide() const
{
    return m_comm.InternetSettings.Mode == 1 || m_comm.InternetSettings.Mode == 2;
}

int DetailMonitor::unitOf(int slot) const
{
    const int u = Screen[slot].index;
    return u >= 0 && u < m_comm.unitCount() ? u : -1;
}

QString DetailMonitor::unitName(int slot) const
{
    const int u = unitOf(slot);
    return u < 0 ? QString() : m_comm.cell(u, ColName);
}

void DetailMonitor::setStatus(int slot, const QString& text, Tone tone)
{
    Screen[slot].status = text;
    Screen[slot].statusTone = tone;
    emit changed();
}

void DetailMonitor::whenIdle(std::function<void()> fn)
{
    if (m_working)
        m_queue.push_back(std::move(fn));
    else
        fn();
}

void DetailMonitor::exclusive(std::function<void()> fn)
{
    m_working = true;
    emit changed();
    try {
        fn();
    } catch (...) {
        // Nothing a slot's work meets may end the window.
    }
    m_working = false;
    emit changed();
    while (!m_working && !m_queue.empty()) {
        auto next = std::move(m_queue.front());
        m_queue.pop_front();
        next();
    }
}

bool DetailMonitor::onUnit(int slot, std::function<void(DeviceLink&)> work)
{
    const int u = unitOf(slot);
    if (u < 0)
        return false;
    const DeviceRecord row = m_comm.DeviceTable[u];
    const int32_t timeOut = m_comm.MonitorSettings.TimeOut;
    return m_engine.runAndWait<bool>(MontComm1::UnitKey(row), [row, timeOut, work](PollEngine::Tools& tools) {
        try {
            if (!MontComm1::AimUnitLink(tools.link, row, timeOut))
                return false;
            work(tools.link);
            return true;
        } catch (...) {
            return false;
        }
    });
}

bool DetailMonitor::fetch(const QString& url, QString& text)
{
    const QString proxy = m_comm.InternetSettings.ProxyServerName;
    const QString proxyPort = m_comm.InternetSettings.ProxyPortNo;
    auto got = m_engine.runAndWait<std::optional<QString>>(url, [url, proxy, proxyPort](PollEngine::Tools& tools) {
        InternetTransfer& t = tools.transfer;
        t.Proxy = proxy;
        t.ProxyPort = proxyPort;
        t.AccessType = proxy.isEmpty() ? InternetTransfer::Default : InternetTransfer::NamedProxy;
        try {
            QString doc = t.OpenURL(url);
            if (doc.size() > Relay::MaxTextLength)
                return std::optional<QString>();
            return std::optional<QString>(std::move(doc));
        } catch (...) {
            return std::optional<QString>();
        }
    });
    if (!got)
        return false;
    text = *got;
    return true;
}

QString DetailMonitor::sendFolderPath(const QString& name) const
{
    return m_comm.InternetSettings.SendFordername.isEmpty() ? m_comm.path(name) : m_comm.SendFolderPath(name);
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
    whenIdle([this] {
        for (int i = 0; i < Slots; ++i) {
            m_timer1[i].stop();
            SlotActive[i] = 0;
        }
        m_comm.SysInfValid = m_comm.LoadSysInf();
        m_comm.InetInfValid = m_comm.LoadInetInf();
        addressFieldsEnabled = m_comm.InternetSettings.Mode != 1;
        const auto& m = m_comm.MonitorSettings;
        const QString& t = m.MoniterCyclType;
        const QString unit = t == QLatin1String("h")   ? QStringLiteral(" 時間")
                             : t == QLatin1String("n") ? QStringLiteral(" 分")
                             : t == QLatin1String("s") ? QStringLiteral(" 秒")
                                                       : QString();
        panel1 = QStringLiteral(" モニタ周期：") + Conv::Str(m.MoniterCycl) + unit;
        SetModeCaption();
        panel2 = StatusModeText;
        QStringList names;
        for (int u = 0; u < m_comm.unitCount(); ++u)
            names << m_comm.cell(u, ColName);
        const int filled = std::min(m_comm.unitCount(), Slots);
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
    });
}

void DetailMonitor::SetModeCaption()
{
    StatusModeText = QStringLiteral("  通信モード ： ");
    switch (m_comm.InternetSettings.Mode) {
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
        StatusModeText += m_comm.InternetSettings.SendFordername.isEmpty() ? QStringLiteral("ＬＡＮ（通常モード）")
                                                                           : QStringLiteral("ＬＡＮアップロード");
        break;
    default:
        break;
    }
}

void DetailMonitor::NameComboClick(int slot, int index)
{
    whenIdle([this, slot, index] {
        Screen[slot].index = index;
        const int u = unitOf(slot);
        Screen[slot].ip = u < 0 ? QString() : m_comm.cell(u, ColIP);
        StopSlot(slot);
    });
}

void DetailMonitor::OpencmdClick(int slot)
{
    whenIdle([this, slot] {
        if (unitOf(slot) < 0)
            return;
        if (SlotActive[slot])
            StopSlot(slot);
        else if (m_comm.InternetSettings.Mode == 2 || m_comm.InetInfValid)
            exclusive([this, slot] { StartSlot(slot); });
        else
            warn(m_comm, QStringLiteral("ｲﾝﾀｰﾈｯﾄ設定ﾌｧｲﾙが読めません！"));
    });
}

bool DetailMonitor::anyActive() const
{
    return std::any_of(SlotActive.begin(), SlotActive.end(), [](int16_t a) { return a != 0; });
}

void DetailMonitor::StopAll()
{
    for (int i = 0; i < Slots; ++i)
        if (SlotActive[i])
            StopSlot(i);
}

// --- starting and stopping ---

bool DetailMonitor::CheckFileNameSet(int slot)
{
    return !m_comm.RelayFileName(unitOf(slot)).isEmpty();
}

bool DetailMonitor::LoadParamLine(int slot)
{
    SlotParamLine[slot] = Relay::ParamLine(m_comm, unitOf(slot));
    if (SlotParamLine[slot].isEmpty()) {
        warn(m_comm, QStringLiteral("システムファイルが開けません"));
        return false;
    }
    return true;
}

bool DetailMonitor::dialUp()
{
    const auto& s = m_comm.InternetSettings;
    if (s.DialUpName.isEmpty() || DialUpDone)
        return true;
    if (m_comm.DialUpOpen(s.DialUpName, s.DialUpUser, s.DialUpPass) != 0) {
        m_comm.messages().show(QStringLiteral("ダイアルアップ接続に失敗しました"), QStringLiteral("ダウンロード"),
                               MessageBoxService::Icon::None, MessageBoxService::Buttons::Ok);
        return false;
    }
    DialUpDone = true;
    return true;
}

void DetailMonitor::StartSlot(int slot)
{
    SlotScreen& screen = Screen[slot];
    if (screen.busy)
        return;
    screen.busy = true;
    emit changed();
    auto done = [&] {
        screen.busy = false;
        emit changed();
    };
    if (!CheckFileNameSet(slot)) {
        done();
        warn(m_comm, QStringLiteral("ﾊﾟﾗﾒｰﾀﾌｧｲﾙを設定して下さい"));
        return;
    }
    const bool prepared = uploadSide() ? startUploadSlot(slot) : startDownloadSlot(slot);
    done();
    if (!prepared) {
        if (DialUpDone) {
            m_comm.DialUpClose();
            DialUpDone = false;
        }
        return;
    }
    if (!OpenSlotLink(slot)) {
        setStatus(slot, QStringLiteral("接続ｴﾗｰ"), Tone::Bad);
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
}

bool DetailMonitor::OpenSlotLink(int slot)
{
    if (downloadSide())
        return true;
    return onUnit(slot, [](DeviceLink& link) { link.GetDirp(UnitMap::PortA, UnitMap::TemperatureChannel); });
}

bool DetailMonitor::startUploadSlot(int slot)
{
    const bool lan = m_comm.InternetSettings.Mode == 3;
    if (!lan && !dialUp())
        return false;
    if (!LoadParamLine(slot))
        return false;
    const QString name = Relay::RequestFileName(m_comm, unitOf(slot));
    QString err;
    bool idle = false;
    for (int attempt = 0; attempt < 3 && !idle; ++attempt) {
        bool failed = false;
        if (lan) {
            failed = m_comm.CreateRelayFile(name);
        } else {
            err = ClearRequestFile(name, slot);
            failed = !err.isEmpty();
        }
        if (failed)
            break;
        idle = UpLdFileChk(name, QString(), slot);
    }
    if (idle)
        return true;
    if (err.isEmpty())
        err = lan ? QStringLiteral("アップロードエラー(LAN)") : QStringLiteral("アップロードエラー");
    warn(m_comm, QStringLiteral("出力処理ファイルの初期化に失敗しました"), err);
    return false;
}

bool DetailMonitor::startDownloadSlot(int slot)
{
    if (!LoadParamLine(slot))
        return false;
    if (m_comm.InternetSettings.Mode == 1 && !dialUp())
        return false;
    if (!CheckRemoteParams(slot))
        return false;
    for (int p = 0; p < 8; ++p)
        PendingCount[slot * 8 + p] = m_comm.InternetSettings.NotReadSize;
    return true;
}

bool DetailMonitor::CheckRemoteParams(int slot)
{
    const QString dataName = Relay::DataFileName(m_comm, unitOf(slot));
    const auto fetchFailed = [&] {
        warn(m_comm, QStringLiteral("パラメータファイルをダウンロード") + CrLf + QStringLiteral("できませんでした"));
        return false;
    };
    QString text;
    bool found = false;
    if (m_comm.InternetSettings.Mode == 2) {
        const auto lines = readRelayLines(m_comm.path(dataName), 4);
        if (!lines || lines->isEmpty())
            return fetchFailed();
        for (const QString& line : *lines) {
            if (line.startsWith(dataName)) {
                text = line;
                found = true;
                break;
            }
        }
        if (!found && lines->size() < 4)
            return fetchFailed(); // the file ended before the fourth attempt
    } else {
        const QString url = m_comm.InternetSettings.URL + u'/' + dataName;
        for (int attempt = 0; attempt < 4 && !found; ++attempt) {
            if (!fetch(url, text))
                return fetchFailed();
            found = text.startsWith(dataName);
        }
    }
    if (!found) {
        warn(m_comm, QStringLiteral("パラメータファイルがダウンロードできません") + CrLf +
                         QStringLiteral("アップロード側が接続しているか、又は") + CrLf +
                         QStringLiteral("通信設定が正しいか確認して下さい"));
        return false;
    }
    // The whole first line must agree: a longer line (more fields) is another layout.
    QString first = text.section(u'\n', 0, 0);
    if (first.endsWith(u'\r'))
        first.chop(1);
    if (first == SlotParamLine[slot])
        return true;
    warn(m_comm, QStringLiteral("入出力タイプ設定がアップロード側と") + CrLf + QStringLiteral("異なっています"));
    return false;
}

void DetailMonitor::StopSlot(int slot)
{
    m_timer1[slot].stop();
    const int u = unitOf(slot);
    if (m_comm.InternetSettings.Mode == 0 && u >= 0) {
        const QString name = Relay::DataFileName(m_comm, u);
        if (!name.isEmpty())
            m_comm.DeleteLocalFile(name);
    }
    SlotActive[slot] = 0;
    SlotScreen& screen = Screen[slot];
    screen.openCaption = QStringLiteral("接続");
    screen.selectorEnabled = true;
    screen.selectorAlert = false;
    screen.status = QStringLiteral("切断");
    screen.statusTone = Tone::Window;
    SetAlarmState(false, slot);
    ResetSwitches(slot);
    if (DialUpDone) {
        m_comm.DialUpClose();
        DialUpDone = false;
    }
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
    const auto& m = m_comm.MonitorSettings;
    m_comm.CycleStart[slot] = DateText::general(now);
    m_comm.CycleDue[slot] = DateText::general(DateText::addCycle(now, m.MoniterCycl, m.MoniterCyclType));
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
        Screen[slot].switchArmed[p] = u >= 0 && m_comm.cell(u, ColRB0 + p) == TableWord::Dout;
    emit changed();
}

void DetailMonitor::PrepareSlotDisplay(int slot)
{
    const int u = unitOf(slot);
    for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
        if (u >= 0 && m_comm.cell(u, ColRA0 + k) == TableWord::Ain) {
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
    screen.ledAlarm.fill(false);
    emit changed();
}

// --- the cycle ---

void DetailMonitor::Timer1Tick(int slot)
{
    // A tick while any slot works is skipped; a due time it missed is caught up next tick.
    if (!SlotActive[slot] || m_working)
        return;
    if (!IsCycleDue(m_comm.CycleDue[slot], m_comm.clock().now(), m_comm.MonitorSettings))
        return;
    exclusive([this, slot] { runCycle(slot); });
}

void DetailMonitor::runCycle(int slot)
{
    Screen[slot].busy = true;
    emit changed();
    if (uploadSide()) {
        PollSlotUnit(slot);
        ServeOutputRequest(slot);
    } else {
        ShowRelayedData(slot);
    }
    const int u = unitOf(slot);
    if (u >= 0)
        m_comm.WriteDataLog(u);
    Screen[slot].busy = false;
    m_comm.CycleDue[slot] = NextCycleDue(m_comm.CycleDue[slot], m_comm.clock().now(), m_comm.MonitorSettings);
    emit changed();
}

void DetailMonitor::PollSlotUnit(int slot)
{
    const int u = unitOf(slot);
    if (u < 0)
        return;
    std::array<bool, 4> ain{};
    for (int k = 0; k < UnitMap::AnalogChannels; ++k)
        ain[k] = m_comm.cell(u, ColRA0 + k) == TableWord::Ain;
    Reading r;
    const bool ok = onUnit(slot, [ain, &r](DeviceLink& link) {
        for (int k = 0; k < UnitMap::AnalogChannels; ++k)
            if (ain[k])
                r.analog[k] = link.GetAnalog(UnitMap::PortA, int16_t(k));
        r.raw = link.GetAnalog(UnitMap::PortA, UnitMap::TemperatureChannel);
        for (int p = 0; p < UnitMap::PortBPins; ++p)
            r.pins[p] = link.GetPin(UnitMap::PortB, int16_t(p));
    });
    if (!ok) {
        setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
        return;
    }
    SlotScreen& screen = Screen[slot];
    for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
        // A channel that is not an input carries 0 in the data line: readers skip it.
        UploadValues[k] = ain[k] ? r.analog[k] : 0;
        if (ain[k]) {
            screen.values[k] = QString::number(r.analog[k]);
            m_comm.unitItem(k, u) = r.analog[k];
        }
    }
    m_comm.unitItem(ItemTemperature, u) = r.raw;
    const double degrees = Conv::RoundHalfEven(r.raw / UnitMap::DegreeFactor);
    UploadValues[4] = int16_t(degrees);
    screen.values[4] = Conv::Str(degrees) + QStringLiteral(" ℃");
    const AlarmRule rule = m_comm.ArmRule(u);
    for (int p = 0; p < UnitMap::PortBPins; ++p) {
        const auto level = int16_t(std::clamp<int32_t>(r.pins[p], -32768, 32767));
        m_comm.unitItem(ItemRB0 + p, u) = level;
        UploadValues[5 + p] = level;
        const int kind = m_comm.GetPinType(u, UnitMap::PortB, p);
        const Led led = r.pins[p] != 0 ? Led::On : Led::Off;
        if (kind == 1) {
            screen.inputLed[p] = led;
        } else if (kind == 0) {
            screen.outputLed[p] = led;
            screen.switchOn[p] = r.pins[p] != 0;
        }
        if ((kind == 0 || kind == 1) && rule.kind == AlarmRule::Kind::Digital && rule.pin == p)
            CheckDigitalAlarm(slot, kind, slot * 8 + p, r.pins[p] != 0);
    }
    setStatus(slot, QStringLiteral("接続中"), Tone::Good);
    if (!WriteAndSendDataFile(slot))
        setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
}

void DetailMonitor::CheckDigitalAlarm(int slot, int kind, int led, bool high)
{
    Q_UNUSED(kind); // both LEDs of a pin share its alarm background
    const int u = unitOf(slot);
    const QString condition = m_comm.GetArmField(u, 2);
    const QString level = high ? TableWord::High : TableWord::Low;
    SlotScreen& screen = Screen[slot];
    if (level != condition) {
        if (SlotAlarm[slot] == AlarmRaised || SlotAlarm[slot] == AlarmAcknowledged) {
            screen.ledAlarm[led % 8] = false;
            screen.selectorAlert = false;
            SetAlarmState(false, slot);
        }
        return;
    }
    if (SlotAlarm[slot] != AlarmClear)
        return;
    screen.ledAlarm[led % 8] = true;
    screen.selectorAlert = true;
    SetAlarmState(true, slot);
    m_comm.SendAlarmMail(m_comm.cell(u, ColName));
    if (m_comm.HasCameraFolder())
        m_comm.PostAbnormalMark(*ftp1[slot], timFtp);
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

bool DetailMonitor::UpLdFileChk(const QString& name, const QString& expected, int slot)
{
    Q_UNUSED(slot); // every slot's fetches go through the lane of their URL
    QString text;
    if (m_comm.InternetSettings.Mode == 0 || m_comm.InternetSettings.Mode == 1) {
        if (!fetch(m_comm.InternetSettings.URL + u'/' + name, text))
            return false;
    } else {
        const auto lines = readRelayLines(sendFolderPath(name), 2);
        if (!lines || lines->isEmpty())
            return false;
        text = lines->at(0) + CrLf;
        if (lines->at(0).contains(QStringLiteral(".txt"))) {
            if (lines->size() < 2)
                return false;
            text += lines->at(1) + CrLf;
        }
    }
    return text == expected + CrLf;
}

QString DetailMonitor::ClearRequestFile(const QString& name, int slot)
{
    if (!TextFile::writeWholeBytes(m_comm.path(name), QByteArrayLiteral("\r\n")))
        return FtpErrorText(-1, QString());
    const int16_t code = m_comm.FtpUploadFile(*ftp1[slot], timFtp, name);
    if (code == 1 || code == 2)
        ftp1[slot]->ResetTransfer();
    return FtpErrorText(code, m_comm.path(name));
}

bool DetailMonitor::WriteAndSendDataFile(int slot)
{
    const int u = unitOf(slot);
    const QString name = Relay::DataFileName(m_comm, u);
    const QString line = Relay::DataLine(m_comm.clock().now(), UploadValues);
    QString err = QStringLiteral("  データファイル書き込みエラー");
    const auto fail = [&] {
        StatusErrorText = err + QStringLiteral(" ： ") + unitName(slot);
        StatusErrorPending = true;
        return false;
    };
    if (name.isEmpty() || !TextFile::writeWhole(m_comm.path(name), Relay::DataFileText(SlotParamLine[slot], line)))
        return fail();
    int16_t code = 0;
    if (m_comm.InternetSettings.Mode == 0)
        code = m_comm.FtpUploadFile(*ftp1[slot], timFtp, name);
    else if (!m_comm.InternetSettings.SendFordername.isEmpty())
        m_comm.CopyToSendFolder(name); // a failed copy shows in the check below
    if (code != 0) {
        err = FtpErrorText(code, m_comm.path(name));
        if (code == 1 || code == 2)
            ftp1[slot]->ResetTransfer();
        return fail();
    }
    if (UpLdFileChk(name, SlotParamLine[slot] + CrLf + line, slot))
        return true;
    return fail();
}

void DetailMonitor::ShowRelayedData(int slot)
{
    const int u = unitOf(slot);
    const QString dataName = Relay::DataFileName(m_comm, u);
    // FetchRelayText
    QString& text = SlotRelayText[slot];
    text.clear();
    bool fetched = false;
    if (m_comm.InternetSettings.Mode == 2) {
        const auto lines = readRelayLines(m_comm.path(dataName), 2);
        fetched = lines && lines->size() == 2;
        if (fetched)
            text = lines->at(0) + CrLf + lines->at(1) + CrLf;
    } else {
        const QString url = m_comm.InternetSettings.URL + u'/' + dataName;
        for (int attempt = 0; attempt < 4; ++attempt) {
            fetched = fetch(url, text);
            if (!fetched || text.startsWith(dataName))
                break;
        }
    }
    const auto failed = [&] { setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad); };
    if (!fetched || u < 0)
        return failed();
    // CheckRelayText
    Relay::RelayData data;
    switch (Relay::ParseText(text, dataName, SlotParamLine[slot], data)) {
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
        if (m_comm.cell(u, ColRA0 + k) == TableWord::Ain) {
            screen.values[k] = data.fields[2 + k];
            m_comm.unitItem(k, u) = data.values[k];
        }
    }
    screen.values[4] = data.fields[6] + QStringLiteral(" ℃");
    // The log line of this cycle records what was relayed; the temperature item holds the raw
    // equivalent, as a polled unit's does.
    if (const auto raw = Conv::CInt16(data.values[4] * UnitMap::DegreeFactor))
        m_comm.unitItem(ItemTemperature, u) = *raw;
    const AlarmRule rule = m_comm.ArmRule(u);
    const int16_t notRead = m_comm.InternetSettings.NotReadSize;
    for (int p = 0; p < UnitMap::PortBPins; ++p) {
        const bool high = data.values[5 + p] != 0;
        m_comm.unitItem(ItemRB0 + p, u) = data.values[5 + p];
        const int kind = m_comm.GetPinType(u, UnitMap::PortB, p);
        const int s = slot * 8 + p;
        const Led led = high ? Led::On : Led::Off;
        if (kind == 1) {
            screen.inputLed[p] = led;
        } else if (kind == 0) {
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
    if (m_comm.IsDataFresh(data.stamp)) {
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
    Screen[s / 8].switchOn[s % 8] = on;
    emit changed();
    whenIdle([this, s] {
        exclusive([this, s] {
            const int slot = s / 8;
            const int pin = s % 8;
            if (!Screen[slot].switchArmed[pin]) {
                RevertSwitch(s);
                return;
            }
            const int u = unitOf(slot);
            if (u < 0 || m_comm.GetPinType(u, UnitMap::PortB, pin) != 0 || !SlotActive[slot])
                return;
            m_timer1[slot].stop();
            OutUnit = int16_t(slot);
            OutPort = UnitMap::PortB;
            OutPin = int16_t(pin);
            if (downloadSide())
                PostOutputRequest();
            else
                SetOutputDirect();
            if (SlotActive[slot]) {
                restartGrid(slot);
                startTimer(slot);
            }
        });
    });
}

void DetailMonitor::SetOutputDirect()
{
    const int s = OutUnit * 8 + OutPin;
    const bool on = Screen[OutUnit].switchOn[OutPin];
    const int32_t port = OutPort;
    const int16_t pin = OutPin;
    if (!onUnit(OutUnit, [=](DeviceLink& link) { link.SetPin(port, pin, on ? 1 : 0); })) {
        setStatus(OutUnit, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
        return;
    }
    Screen[s / 8].outputLed[s % 8] = on ? Led::On : Led::Off;
    setStatus(OutUnit, QStringLiteral("接続中"), Tone::Good);
}

void DetailMonitor::PostOutputRequest()
{
    const int slot = OutUnit;
    const int s = slot * 8 + OutPin;
    const QString name = Relay::RequestFileName(m_comm, unitOf(slot));
    if (name.isEmpty() || !UpLdFileChk(name, QString(), slot)) {
        warn(m_comm, QStringLiteral("前の出力処理が完了していません"));
        RevertSwitch(s);
        return;
    }
    const QString token = MontComm1::ScramblePass(QStringLiteral("SET"), m_comm.InternetSettings.PassWord);
    const QString line = Relay::RequestLine(token, name, OutPort, OutPin, Screen[slot].switchOn[OutPin]);
    if (!TextFile::writeWhole(m_comm.path(name), line + CrLf)) {
        setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
        RevertSwitch(s);
        return;
    }
    const bool internet = m_comm.InternetSettings.Mode == 1;
    const int16_t code = internet ? m_comm.FtpUploadFile(*ftp1[slot], timFtp, name) : int16_t(0);
    QString title = FtpErrorText(code, m_comm.path(name));
    if (code == 1 || code == 2)
        ftp1[slot]->ResetTransfer();
    if (code >= 0 && code <= 2) {
        if (UpLdFileChk(name, line, slot)) {
            if (internet)
                m_comm.DeleteLocalFile(name);
            Screen[slot].outputLed[OutPin] = Led::Wait;
            PendingCount[s] = 0;
            setStatus(slot, QStringLiteral("接続中"), Tone::Good);
            return;
        }
        title.clear();
    }
    warn(m_comm, QStringLiteral(" アップロード出来ません！ "), title);
    setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
    RevertSwitch(s);
}

void DetailMonitor::ServeOutputRequest(int slot)
{
    const int u = unitOf(slot);
    const QString name = Relay::RequestFileName(m_comm, u);
    if (name.isEmpty())
        return;
    QString text;
    if (m_comm.InternetSettings.Mode == 0) {
        if (!fetch(m_comm.InternetSettings.URL + u'/' + name, text))
            return;
    } else {
        const auto lines = readRelayLines(sendFolderPath(name), 1);
        if (!lines || lines->isEmpty())
            return;
        text = lines->at(0);
    }
    const QString token = MontComm1::ScramblePass(QStringLiteral("SET"), m_comm.InternetSettings.PassWord);
    Relay::OutputRequest request;
    const Relay::Request kind = Relay::ParseRequest(text, token, name, request);
    if (kind == Relay::Request::None)
        return;
    // Consume it first: a request is carried out at most once, even if the unit then fails.
    QString requestLine = text.section(u'\n', 0, 0);
    if (requestLine.endsWith(u'\r'))
        requestLine.chop(1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_comm.InternetSettings.Mode == 0)
            ClearRequestFile(name, slot);
        else
            m_comm.CreateRelayFile(name);
        if (!UpLdFileChk(name, requestLine, slot))
            break;
    }
    if (kind == Relay::Request::OtherFile)
        return;
    if (kind == Relay::Request::Bad) {
        setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
        return;
    }
    OutPort = request.port;
    OutPin = int16_t(request.pin);
    if (request.hasLevel) {
        const int32_t port = request.port;
        const int16_t pin = int16_t(request.pin);
        const bool high = request.high;
        if (!onUnit(slot, [=](DeviceLink& link) { link.SetPin(port, pin, high ? 1 : 0); })) {
            setStatus(slot, QStringLiteral("通信ｴﾗｰ"), Tone::Bad);
            return;
        }
        if (port == UnitMap::PortB) { // port A has no switches to show it on
            Screen[slot].outputLed[pin] = high ? Led::On : Led::Off;
            Screen[slot].switchOn[pin] = high;
        }
    }
    setStatus(slot, QStringLiteral("接続中"), Tone::Good);
}
