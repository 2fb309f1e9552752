// The download side of a slot: the relayed data file and the output requests it posts.

#include "relay/DownloadSlot.h"

#include "platform/Clock.h"
#include "platform/Conversions.h"
#include "outside/DeviceLink.h"
#include "shared/FtpUpload.h"
#include "shared/RelayText.h"
#include "shared/RelayTransport.h"
#include "shared/TableWords.h"
#include "platform/TextFile.h"
#include "shared/StatusWords.h"

namespace {
const QString CrLf = QStringLiteral("\r\n");
} // namespace

void DownloadSlot::prepare(std::function<void(bool)> done)
{
    if (!LoadParamLine())
        return done(false);
    auto check = [this, done] {
        CheckRemoteParams([this, done](bool ok) {
            if (ok)
                m_pending.fill(m_comm.inet().InternetSettings().NotReadSize);
            done(ok);
        });
    };
    withLine(check, done);
}

void DownloadSlot::CheckRemoteParams(std::function<void(bool)> done)
{
    const QString dataName = Relay::DataFileName(m_comm, unitOf());
    auto fetchFailed = [this, done] {
        warn(QStringLiteral("パラメータファイルをダウンロード") + CrLf + QStringLiteral("できませんでした"));
        done(false);
    };
    auto judge = [this, done](bool found, const QString& text) {
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
        if (first == m_paramLine)
            return done(true);
        warn(QStringLiteral("入出力タイプ設定がアップロード側と") + CrLf + QStringLiteral("異なっています"));
        done(false);
    };
    if (m_transport.route() == RelayTransport::Route::Folder) {
        const auto lines = RelayTransport::readRelayLines(m_comm.path(dataName), 4);
        if (!lines || lines->isEmpty())
            return fetchFailed();
        for (const QString& line : *lines)
            if (line.startsWith(dataName))
                return judge(true, line);
        if (lines->size() < 4)
            return fetchFailed(); // the file ended before the fourth attempt
        return judge(false, QString());
    }
    m_transport.fetchRelayFile(
        this, m_comm.inet().InternetSettings().URL + u'/' + dataName, dataName,
        guarded<std::optional<QString>>([fetchFailed, judge, dataName](std::optional<QString> text) {
            if (!text)
                return fetchFailed();
            judge(text->startsWith(dataName), *text);
        }));
}

void DownloadSlot::cycle(Next next)
{
    ShowRelayedData(next);
}

void DownloadSlot::ShowRelayedData(Next next)
{
    const int u = unitOf();
    const QString dataName = Relay::DataFileName(m_comm, u);
    auto show = [this, u, dataName, next](std::optional<QString> text) {
        if (!text || u < 0 || unitOf() != u) {
            reportPoll(u, UnitLamp::Failed);
            setStatus(StatusWord::CommError, Tone::Bad);
            return next();
        }
        const uint64_t started = generation();
        showRelayText(u, dataName, *text);
        if (generation() != started)
            return; // stopped while the alarm mail ran
        postMark(next);
    };
    if (m_transport.route() == RelayTransport::Route::Folder) {
        const auto lines = RelayTransport::readRelayLines(m_comm.path(dataName), 2);
        if (lines && lines->size() == 2)
            return show(lines->at(0) + CrLf + lines->at(1) + CrLf);
        return show(std::nullopt);
    }
    m_transport.fetchRelayFile(this, m_comm.inet().InternetSettings().URL + u'/' + dataName, dataName,
                               guarded<std::optional<QString>>(show));
}

void DownloadSlot::showRelayText(int u, const QString& dataName, const QString& text)
{
    const auto failed = [&] {
        reportPoll(u, UnitLamp::Failed);
        setStatus(StatusWord::CommError, Tone::Bad);
    };
    Relay::RelayData data;
    switch (Relay::ParseText(text, dataName, m_paramLine, data)) {
    case Relay::Check::NotDataFile:
        m_host.reportError(QStringLiteral("  ダウンロードエラー ： ") + unitName());
        return failed();
    case Relay::Check::TypesDiffer:
        m_host.reportError(QStringLiteral("  入出力タイプ設定エラー ： ") + unitName());
        return failed();
    case Relay::Check::BadData:
        return failed();
    case Relay::Check::Ok:
        break;
    }
    for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
        if (m_comm.sys().cell(u, ColRA0 + k) == TableWord::Ain) {
            m_screen.values[k] = data.fields[2 + k];
            m_comm.units().unitItem(k, u) = data.values[k];
        }
    }
    m_screen.values[4] = data.fields[6] + QStringLiteral(" ℃");
    // The log line of this cycle records what was relayed; the temperature item holds the raw
    // equivalent, as a polled unit's does.
    if (const auto raw = Conv::CInt16(data.values[4] * UnitMap::DegreeFactor))
        m_comm.units().unitItem(ItemTemperature, u) = *raw;
    const AlarmRule rule = m_comm.sys().ArmRule(u);
    const int16_t notRead = m_comm.inet().InternetSettings().NotReadSize;
    for (int p = 0; p < UnitMap::PortBPins; ++p) {
        const bool high = data.values[5 + p] != 0;
        m_comm.units().unitItem(ItemRB0 + p, u) = data.values[5 + p];
        const int kind = m_comm.sys().GetPinType(u, UnitMap::PortB, p);
        const Led led = high ? Led::On : Led::Off;
        if (kind == 1) {
            m_screen.inputLed[p] = led;
        } else if (kind == 0 && !flipHeld(p)) { // a flip waiting to be posted keeps its level
            if (m_pending[p] < notRead) {
                if (m_screen.switchOn[p] == high) {
                    m_pending[p] = notRead;
                    m_screen.outputLed[p] = led;
                } else {
                    ++m_pending[p];
                }
            } else {
                m_screen.switchOn[p] = high;
                m_screen.outputLed[p] = led;
            }
        }
        if ((kind == 0 || kind == 1) && rule.kind == AlarmRule::Kind::Digital && rule.pin == p)
            CheckDigitalAlarm(kind, p, high);
    }
    m_host.screenChanged();
    if (m_comm.files().IsDataFresh(data.stamp)) {
        m_comm.units().MarkHeard(u);
        reportPoll(u, UnitLamp::Good);
        setStatus(StatusWord::Connected, Tone::Good);
        return;
    }
    m_host.reportError(QStringLiteral("  タイムアウトエラー ： ") + unitName());
    reportPoll(u, UnitLamp::RelayStale);
    setStatus(StatusWord::CommError, Tone::Bad);
}

void DownloadSlot::setOutput(int pin, bool on, Next next)
{
    PostOutputRequest(pin, on, next);
}

void DownloadSlot::PostOutputRequest(int pin, bool on, Next next)
{
    const QString name = Relay::RequestFileName(m_comm, unitOf());
    auto refused = [this, pin, next] {
        warn(FaultText(Failed(Fault::OutputPending)));
        RevertSwitch(pin);
        next();
    };
    if (name.isEmpty())
        return refused();
    const QString token = InetInf::ScramblePass(QStringLiteral("SET"), m_comm.inet().InternetSettings().PassWord);
    const QString line = Relay::RequestLine(token, name, UnitMap::PortB, pin, on);
    const uint64_t started = generation();
    m_transport.PostOutputRequest(
        m_index, this, name, line, false, [this, started] { return generation() == started; },
        [this, pin, refused, next](const Outcome& posted) {
            if (posted.fault == Fault::OutputPending)
                return refused();
            if (posted.ok()) {
                m_screen.outputLed[pin] = Led::Wait;
                m_pending[pin] = 0;
                setStatus(StatusWord::Connected, Tone::Good);
                return next();
            }
            if (posted.fault == Fault::Upload)
                warn(FaultText(posted), FaultTitle(posted));
            setStatus(StatusWord::CommError, Tone::Bad);
            RevertSwitch(pin);
            next();
        });
}
