// The upload side of a slot: the unit's poll, its relay data file and the output requests.

#include "relay/UploadSlot.h"

#include "platform/Clock.h"
#include "platform/Conversions.h"
#include "outside/DeviceLink.h"
#include "shared/FtpUpload.h"
#include "shared/RelayTransport.h"
#include "shared/TableWords.h"
#include "platform/TextFile.h"
#include "shared/StatusWords.h"

#include <QFileInfo>
#include <algorithm>
#include <memory>

namespace {
const QString CrLf = QStringLiteral("\r\n");
} // namespace

void UploadSlot::prepare(std::function<void(bool)> done)
{
    const bool lan = m_transport.route() == RelayTransport::Route::Folder;
    auto ready = [this, lan, done] {
        if (!LoadParamLine())
            return done(false);
        resetRequestFile(Relay::RequestFileName(m_comm, unitOf()), [this, lan, done](bool idle, QString err) {
            if (idle)
                return done(true);
            if (err.isEmpty())
                err = lan ? QStringLiteral("アップロードエラー(LAN)") : QStringLiteral("アップロードエラー");
            warn(QStringLiteral("出力処理ファイルの初期化に失敗しました"), err);
            done(false);
        });
    };
    withLine(ready, done);
}

void UploadSlot::openLink(std::function<void(bool)> done)
{
    onUnit([](DeviceLink& link) { link.GetDirp(UnitMap::PortA, UnitMap::TemperatureChannel); }, std::move(done));
}

void UploadSlot::stopped()
{
    // The Internet upload's local copy of the data file goes with the slot.
    const int u = unitOf();
    if (m_comm.inet().CommMode() == CommModeKind::InternetUpload && u >= 0) {
        const QString name = Relay::DataFileName(m_comm, u);
        if (!name.isEmpty())
            m_comm.files().DeleteLocalFile(name);
    }
}

void UploadSlot::resetRequestFile(const QString& name, std::function<void(bool, QString)> done, int attempt)
{
    auto check = [this, name, attempt, done](const QString& err) {
        if (!err.isEmpty())
            return done(false, err);
        m_transport.UpLdFileChk(this, name, QString(), guarded<bool>([this, name, attempt, done](bool idle) {
                                    if (idle || attempt + 1 >= 3)
                                        return done(idle, QString());
                                    resetRequestFile(name, done, attempt + 1);
                                }));
    };
    m_transport.clear(m_index, name, guarded<bool, QString>([check, done](bool cleared, const QString& err) {
                          if (!cleared)
                              return done(false, err);
                          check(QString());
                      }));
}

void UploadSlot::cycle(Next next)
{
    PollSlotUnit([this, next] { ServeOutputRequest(next); });
}

void UploadSlot::PollSlotUnit(Next next)
{
    const int u = unitOf();
    if (u < 0)
        return next();
    const uint64_t started = generation();
    readUnit([this, u, next, started](UnitReading r) {
        if (!r.ok || unitOf() != u) {
            reportPoll(u, UnitLamp::Failed);
            setStatus(StatusWord::CommError, Tone::Bad);
            return next();
        }
        StoreReading(m_comm.units(), u, r);
        for (int k = 0; k < UnitMap::AnalogChannels; ++k) {
            // A channel that is not an input carries 0 in the data line: readers skip it.
            m_values[k] = r.items[k].value_or(0);
            if (r.items[k])
                m_screen.values[k] = QString::number(*r.items[k]);
        }
        const double degrees = Conv::RoundHalfEven(*r.items[ItemTemperature] / UnitMap::DegreeFactor);
        m_values[4] = int16_t(degrees);
        m_screen.values[4] = Conv::Str(degrees) + QStringLiteral(" ℃");
        const AlarmRule rule = m_comm.sys().ArmRule(u);
        for (int p = 0; p < UnitMap::PortBPins; ++p) {
            const int16_t level = *r.items[ItemRB0 + p];
            m_values[5 + p] = level;
            const int kind = m_comm.sys().GetPinType(u, UnitMap::PortB, p);
            const Led led = level != 0 ? Led::On : Led::Off;
            if (kind == 1) {
                m_screen.inputLed[p] = led;
            } else if (kind == 0) {
                m_screen.outputLed[p] = led;
                if (!flipHeld(p)) // the operator's choice waits to be carried out
                    m_screen.switchOn[p] = level != 0;
            }
            if ((kind == 0 || kind == 1) && rule.kind == AlarmRule::Kind::Digital && rule.pin == p)
                CheckDigitalAlarm(kind, p, level != 0);
        }
        if (generation() != started)
            return; // stopped while the alarm mail ran
        reportPoll(u, UnitLamp::Good);
        setStatus(StatusWord::Connected, Tone::Good);
        postMark([this, next] {
            WriteAndSendDataFile([this, next](bool sent) {
                if (!sent)
                    setStatus(StatusWord::CommError, Tone::Bad);
                next();
            });
        });
    });
}

void UploadSlot::WriteAndSendDataFile(std::function<void(bool)> done)
{
    const QString name = Relay::DataFileName(m_comm, unitOf());
    const QString line = Relay::DataLine(m_comm.clock().now(), m_values);
    auto fail = [this, done](const QString& err) {
        m_host.reportError(err + QStringLiteral(" ： ") + unitName());
        done(false);
    };
    const QString writeError = QStringLiteral("  データファイル書き込みエラー");
    if (name.isEmpty())
        return fail(writeError);
    const QString expected = m_paramLine + CrLf + line;
    auto verify = [this, name, expected, done, fail, writeError] {
        m_transport.UpLdFileChk(this, name, expected, guarded<bool>([done, fail, writeError](bool same) {
                                    if (same)
                                        return done(true);
                                    fail(writeError);
                                }));
    };
    m_transport.publish(m_index, name, Relay::DataFileText(m_paramLine, line),
                        guarded<int16_t>([this, name, verify, fail, writeError](int16_t code) {
                            if (code == 0)
                                return verify();
                            fail(code == 6 ? writeError : FtpErrorText(code, m_comm.path(name)));
                        }));
}

void UploadSlot::setOutput(int pin, bool on, Next next)
{
    const int32_t port = UnitMap::PortB;
    onUnit([=](DeviceLink& link) { link.SetPin(port, int16_t(pin), on ? 1 : 0); },
           [this, pin, on, next](bool ok) {
               if (!ok) {
                   setStatus(StatusWord::CommError, Tone::Bad); // the switch keeps its position
                   return next();
               }
               m_screen.outputLed[pin] = on ? Led::On : Led::Off;
               setStatus(StatusWord::Connected, Tone::Good);
               next();
           });
}

// --- output requests ---

void UploadSlot::ServeOutputRequest(Next next)
{
    const int u = unitOf();
    const QString name = Relay::RequestFileName(m_comm, u);
    if (name.isEmpty())
        return next();
    // A request file that is there but cannot be read as one (too large, not CP932, not a
    // regular file, another token) would block every later request: it is reset like a
    // consumed request and reported.
    m_transport.read(this, name, guarded<RelayTransport::Fetched>([this, u, name, next](RelayTransport::Fetched f) {
                         if (f.unreadable)
                             return discardRequest(name, next);
                         if (!f.text)
                             return next();
                         serve(u, name, *f.text, next);
                     }));
}

void UploadSlot::serve(int u, const QString& name, const QString& text, Next next)
{
    const QString token = InetInf::ScramblePass(QStringLiteral("SET"), m_comm.inet().InternetSettings().PassWord);
    Relay::OutputRequest request;
    const Relay::Request kind = Relay::ParseRequest(text, token, name, request);
    // A request with another token is no request of ours, but left in place it would hold off
    // every later one: it goes the way of an unreadable file.
    if (kind == Relay::Request::None)
        return text.trimmed().isEmpty() ? next() : discardRequest(name, next);
    // Consume it first: a request is carried out at most once, even if the unit then fails.
    QString requestLine = text.section(u'\n', 0, 0);
    if (requestLine.endsWith(u'\r'))
        requestLine.chop(1);
    consumeRequest(name, requestLine, [this, u, kind, request, next] {
        if (kind == Relay::Request::OtherFile)
            return next();
        // Only what the operator's own table allows: a port B pin that is an output here.
        const bool allowed =
            request.port != UnitMap::PortB || m_comm.sys().GetPinType(u, UnitMap::PortB, request.pin) == 0;
        if (kind == Relay::Request::Bad || unitOf() != u || !allowed) {
            setStatus(StatusWord::CommError, Tone::Bad);
            return next();
        }
        if (!request.hasLevel) {
            setStatus(StatusWord::Connected, Tone::Good);
            return next();
        }
        setRequested(request, next);
    });
}

void UploadSlot::setRequested(const Relay::OutputRequest& request, Next next)
{
    const int32_t port = request.port;
    const auto pin = int16_t(request.pin);
    const bool high = request.high;
    onUnit([=](DeviceLink& link) { link.SetPin(port, pin, high ? 1 : 0); },
           [this, port, pin, high, next](bool ok) {
               if (!ok) {
                   setStatus(StatusWord::CommError, Tone::Bad);
                   return next();
               }
               if (port == UnitMap::PortB) { // port A has no switches to show it on
                   m_screen.outputLed[pin] = high ? Led::On : Led::Off;
                   if (!flipHeld(pin)) // the operator's own flip goes after it
                       m_screen.switchOn[pin] = high;
               }
               setStatus(StatusWord::Connected, Tone::Good);
               next();
           });
}

void UploadSlot::discardRequest(const QString& name, Next next)
{
    resetRequestFile(name, [this, next](bool, const QString&) {
        setStatus(StatusWord::CommError, Tone::Bad);
        next();
    });
}

void UploadSlot::consumeRequest(const QString& name, const QString& requestLine, Next next, int attempt)
{
    auto check = [this, name, requestLine, attempt, next] {
        m_transport.UpLdFileChk(this, name, requestLine,
                                guarded<bool>([this, name, requestLine, attempt, next](bool stillThere) {
                                    if (!stillThere || attempt + 1 >= 3)
                                        return next();
                                    consumeRequest(name, requestLine, next, attempt + 1);
                                }));
    };
    m_transport.clear(m_index, name, guarded<bool, QString>([check](bool, const QString&) { check(); }));
}
