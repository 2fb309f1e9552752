#include "monitor/Dialog2.h"

#include "platform/Clock.h"
#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "shared/FtpUpload.h"
#include "platform/Lamps.h"
#include "platform/MessageBox.h"
#include "outside/PollEngine.h"
#include "outside/Switch.h"
#include "shared/TableWords.h"
#include "platform/TextFile.h"
#include "shared/UnitEndpoint.h"
#include "shared/StatusWords.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QColor LightGreen(0x80, 0xFF, 0x80);
const QColor LightRed(0xFF, 0x80, 0x80);
const QColor Orange(0xFF, 0x80, 0x00);
const QColor White(0xFF, 0xFF, 0xFF);
constexpr int RelayAttempts = 4;

void paint(QLineEdit* e, Dialog2::Tone tone)
{
    QPalette p = QApplication::palette(e);
    if (tone != Dialog2::Tone::Window)
        p.setColor(QPalette::Base, tone == Dialog2::Tone::Good ? LightGreen : LightRed);
    e->setPalette(p);
}

} // namespace

Dialog2::Dialog2(MontComm1& comm, PollEngine& engine, int unit, bool readOnShow, QWidget* parent)
    : QDialog(parent)
    , m_comm(comm)
    , m_unit(unit)
    , m_engine(engine)
{
    setObjectName(QStringLiteral("Dialog2"));
    setWindowTitle(QStringLiteral("詳細モニタ"));
    setModal(true);
    m_on = Lamps::load(m_comm.workDir(), Lamps::On);
    m_off = Lamps::load(m_comm.workDir(), Lamps::Off);
    buildControls();
    FixAndCentre(*this);
    setStatus(StatusWord::Disconnected, Tone::Window);
    ResetSwitches();
    if (!unitValid())
        return;
    Nametext->setText(m_comm.sys().cell(m_unit, ColName));
    IPtext->setText(m_comm.sys().cell(m_unit, ColIP));
    // Read only once the dialog is up and modal: a read started here would run while the
    // main window still takes clicks.
    m_readOnShow = readOnShow;
}

void Dialog2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_readOnShow) {
        m_readOnShow = false;
        QMetaObject::invokeMethod(this, &Dialog2::openClick, Qt::QueuedConnection);
    }
}

void Dialog2::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto field = [&](const QString& name, const QString& accessible, int digits) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setReadOnly(true);
        e->setAccessibleName(accessible);
        if (digits > 0)
            e->setFixedWidth(DigitsWidth(*e, digits));
        return e;
    };
    auto* unit = new QGridLayout;
    auto labelled = [&](QGridLayout* grid, const QString& label, QLineEdit* e, int row, int column) {
        auto* l = new QLabel(label, this);
        l->setBuddy(e);
        grid->addWidget(l, row, column);
        grid->addWidget(e, row, column + 1);
        return e;
    };
    Nametext =
        labelled(unit, QStringLiteral("名称"), field(QStringLiteral("Nametext"), QStringLiteral("名称"), 0), 0, 0);
    IPtext = labelled(unit, QStringLiteral("IPｱﾄﾞﾚｽ"), field(QStringLiteral("IPtext_0"), QStringLiteral("IPｱﾄﾞﾚｽ"), 0),
                      1, 0);
    Stattext =
        labelled(unit, QStringLiteral("状態"), field(QStringLiteral("Stattext_0"), QStringLiteral("状態"), 0), 2, 0);
    Nametext->setMinimumWidth(220);
    Stattext->setAlignment(Qt::AlignHCenter);
    Opencmd = FormButton(this, QStringLiteral("Opencmd_0"), QStringLiteral("接続"));
    unit->addWidget(Opencmd, 1, 2);
    top->addLayout(unit);

    auto* analog = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("アナログ入力"));
    auto* ag = new QGridLayout(analog);
    for (int k = 0; k < 4; ++k) {
        const QString pin = QStringLiteral("RA%1").arg(k);
        Aintext[k] = field(QStringLiteral("Aintext%1_0").arg(k), pin, 6);
        Aintext[k]->setAlignment(Qt::AlignRight);
        ag->addWidget(new QLabel(pin, analog), 0, k, Qt::AlignHCenter);
        ag->addWidget(Aintext[k], 1, k);
    }
    temptext = field(QStringLiteral("temptext_0"), QStringLiteral("温度"), 7);
    temptext->setAlignment(Qt::AlignRight);
    ag->addWidget(new QLabel(QStringLiteral("温度"), analog), 0, 4, Qt::AlignHCenter);
    ag->addWidget(temptext, 1, 4);
    top->addWidget(analog);

    auto* digital = FormFrame(this, QStringLiteral("Frame2"), QStringLiteral("デジタル入出力"));
    auto* dg = new QGridLayout(digital);
    dg->addWidget(new QLabel(QStringLiteral("入力"), digital), 1, 0);
    dg->addWidget(new QLabel(QStringLiteral("出力"), digital), 2, 0);
    dg->addWidget(new QLabel(QStringLiteral("出力ｽｲｯﾁ"), digital), 3, 0);
    for (int p = 0; p < 8; ++p) {
        const QString pin = QStringLiteral("RB%1").arg(p);
        dg->addWidget(new QLabel(pin, digital), 0, p + 1, Qt::AlignHCenter);
        auto lamp = [&](const QString& name, const QString& role) {
            auto* l = new QLabel(digital);
            l->setObjectName(name);
            l->setAccessibleName(pin + u' ' + role);
            l->setFixedSize(26, 26);
            l->setAlignment(Qt::AlignCenter);
            return l;
        };
        Picture1[p] = lamp(QStringLiteral("Picture1_%1").arg(p), QStringLiteral("入力"));
        Picture2[p] = lamp(QStringLiteral("Picture2_%1").arg(p), QStringLiteral("出力"));
        Sw1[p] = new Switch(digital);
        Sw1[p]->setObjectName(QStringLiteral("Sw1_%1").arg(p));
        Sw1[p]->setAccessibleName(pin + QStringLiteral(" 出力ｽｲｯﾁ"));
        dg->addWidget(Picture1[p], 1, p + 1, Qt::AlignHCenter);
        dg->addWidget(Picture2[p], 2, p + 1, Qt::AlignHCenter);
        dg->addWidget(Sw1[p], 3, p + 1, Qt::AlignHCenter);
        connect(Sw1[p], &Switch::Flipped, this, [this, p] { switchFlipped(p); });
    }
    top->addWidget(digital);

    CancelButton = FormButton(this, QStringLiteral("CancelButton"), QStringLiteral("終了"));
    top->addLayout(FormButtonRow({}, {CancelButton}));
    connect(Opencmd, &QPushButton::clicked, this, &Dialog2::openClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

bool Dialog2::unitValid() const
{
    return m_unit >= 0 && m_unit < m_comm.sys().unitCount();
}

void Dialog2::setStatus(const QString& text, Tone tone)
{
    Stattext->setText(text);
    paint(Stattext, tone);
    m_tone = tone;
}

void Dialog2::ResetSwitches()
{
    for (Switch* s : Sw1) {
        s->setValue(false);
        s->setForeColor(White);
    }
}

void Dialog2::ArmOutputSwitches()
{
    for (int p = 0; p < 8; ++p)
        Sw1[p]->setForeColor(m_comm.sys().cell(m_unit, ColRB0 + p) == TableWord::Dout ? Orange : White);
}

void Dialog2::PrepareSlotDisplay()
{
    const auto ain = Detail::AinChannels(m_comm, m_unit);
    for (int k = 0; k < 4; ++k)
        if (ain[k]) {
            Aintext[k]->clear();
            paint(Aintext[k], Tone::Window);
        }
    temptext->clear();
    paint(temptext, Tone::Window);
}

void Dialog2::RevertSwitch(int s)
{
    Sw1[s]->setValue(!Sw1[s]->Value());
}

void Dialog2::setInputLamp(int p, bool high)
{
    m_inputLamps[p] = high ? Lamps::On : Lamps::Off;
    Picture1[p]->setPixmap((high ? m_on : m_off).pixmap(24, 24));
}

void Dialog2::setOutputLamp(int p, bool high)
{
    m_outputLamps[p] = high ? Lamps::On : Lamps::Off;
    Picture2[p]->setPixmap((high ? m_on : m_off).pixmap(24, 24));
}

void Dialog2::showReading(const Detail::Shown& shown)
{
    for (int k = 0; k < 4; ++k)
        if (shown.ain[k])
            Aintext[k]->setText(*shown.ain[k]);
    temptext->setText(shown.temperature);
    for (int p = 0; p < 8; ++p) {
        if (shown.pinType[p] == 1) {
            setInputLamp(p, shown.high[p]);
        } else if (shown.pinType[p] == 0) {
            Sw1[p]->setValue(shown.high[p]);
            setOutputLamp(p, shown.high[p]);
        }
    }
}

void Dialog2::beginBusy()
{
    m_busy = true;
    m_cursor.set(true);
    setControlsEnabled(false);
}

void Dialog2::endBusy()
{
    m_cursor.set(false);
    setControlsEnabled(true);
    m_busy = false;
    m_switching = false;
}

// "終了" stays on during a read, which it ends; a switch at work turns it off too.
void Dialog2::setControlsEnabled(bool enabled)
{
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        w->setEnabled(enabled || (w == CancelButton && !m_switching));
}

bool Dialog2::mayClose()
{
    if (m_switching)
        return false;
    if (m_busy) {
        m_abandoned = true;
        m_engine.cancel(m_readKey);
        endBusy();
    }
    return true;
}

void Dialog2::openClick()
{
    if (!unitValid() || m_busy)
        return;
    const int u = m_unit;
    Nametext->setText(m_comm.sys().cell(u, ColName));
    IPtext->setText(m_comm.sys().cell(u, ColIP));
    PrepareSlotDisplay();
    beginBusy();
    if (m_comm.inet().InternetSettings().Mode2 != 0)
        readDirect(u);
    else
        readRelayed(u);
}

void Dialog2::readDirect(int u)
{
    const DeviceRecord row = m_comm.sys().DeviceTable()[u];
    m_readKey = SysInf::UnitKey(row);
    UnitEndpoint::onUnit<UnitWork::ProbedReading>(
        m_engine, row, this, [row](DeviceLink& link) { return UnitWork::ProbeAndRead(link, row); },
        [this, u](UnitWork::ProbedReading r) { directRead(u, r); });
}

void Dialog2::directRead(int u, const UnitWork::ProbedReading& r)
{
    if (m_abandoned)
        return;
    if (!r.probed) {
        ResetSwitches();
        setStatus(StatusWord::CommError, Tone::Error);
    } else {
        ArmOutputSwitches();
        if (!r.reading.ok) {
            setStatus(StatusWord::CommError, Tone::Error); // the switches stay armed: the unit answered the probe
        } else {
            StoreReading(m_comm.units(), u, r.reading);
            showReading(Detail::ShownFromDirect(m_comm, u, r.reading));
            setStatus(StatusWord::Normal, Tone::Good);
        }
    }
    m_comm.dataLog().write(u, m_comm.clock().now());
    endBusy();
}

void Dialog2::warn(const QString& text, const QString& title)
{
    // Shown once the step is over; the dialog does not wait for it.
    m_comm.messages().notify(text, title, MessageBoxService::Icon::Exclamation);
}

void Dialog2::readRelayed(int u)
{
    const QString dataName = Relay::DataFileName(m_comm, u);
    const QString paramLine = Relay::ParamLine(m_comm, u);
    if (dataName.isEmpty() || paramLine.isEmpty()) {
        // Without a relay file name there is no file to fetch, which is the failed download's case;
        // only a unit missing from the system file is a system file fault.
        warn(dataName.isEmpty() ? Detail::RelayCheckMessage(Relay::Check::NotDataFile)
                                : QStringLiteral("システムファイルが開けません"),
             MessageBoxService::applicationTitle());
        setStatus(StatusWord::CommError, Tone::Error);
        ResetSwitches();
        endBusy();
        return;
    }
    fetch<QString>(
        dataName,
        [dataName](InternetTransfer& transfer, const QString& url) {
            return UnitWork::FetchRelayText(transfer, url, dataName, RelayAttempts);
        },
        [this, u, dataName, paramLine](QString text) { relayFetched(u, dataName, paramLine, text); });
}

void Dialog2::relayFetched(int u, const QString& dataName, const QString& paramLine, const QString& text)
{
    if (m_abandoned)
        return;
    Relay::RelayData data;
    const Relay::Check check = Relay::ParseText(text, dataName, paramLine, data);
    if (check != Relay::Check::Ok) {
        const QString message = Detail::RelayCheckMessage(check);
        if (!message.isEmpty())
            warn(message, MessageBoxService::applicationTitle());
        setStatus(StatusWord::CommError, Tone::Error);
        ResetSwitches();
        endBusy();
        return;
    }
    showReading(Detail::ShownFromRelay(m_comm, u, data));
    if (m_comm.files().IsDataFresh(text)) {
        setStatus(StatusWord::Normal, Tone::Good);
    } else {
        warn(QStringLiteral("タイムアウトエラー"), MessageBoxService::applicationTitle());
        setStatus(StatusWord::CommError, Tone::Error);
    }
    ArmOutputSwitches();
    endBusy();
}

void Dialog2::switchFlipped(int s)
{
    if (m_busy) {
        RevertSwitch(s); // a switch flipped while an exchange runs changes nothing
        return;
    }
    if (Sw1[s]->ForeColor() == White) {
        RevertSwitch(s);
        return;
    }
    if (!unitValid() || m_comm.sys().GetPinType(m_unit, UnitMap::PortB, s) != 0)
        return;
    m_switching = true;
    beginBusy();
    OutPort = UnitMap::PortB;
    OutPin = int16_t(s);
    if (m_comm.inet().InternetSettings().Mode2 == 0)
        PostOutputRequest(s);
    else
        SetOutputDirect(s);
}

void Dialog2::SetOutputDirect(int s)
{
    const DeviceRecord row = m_comm.sys().DeviceTable()[m_unit];
    const bool on = Sw1[s]->Value();
    const int32_t port = OutPort;
    const int16_t pin = OutPin;
    UnitEndpoint::onUnit<UnitWork::OutputSet>(
        m_engine, row, this,
        [row, port, pin, on](DeviceLink& link) { return UnitWork::SetOutput(link, row, port, pin, on); },
        [this, s, on](UnitWork::OutputSet r) {
            OutPinState = r.before;
            if (r.ok)
                setOutputLamp(s, on);
            else
                setStatus(StatusWord::CommError, Tone::Error);
            endBusy();
        });
}

template <class Result>
void Dialog2::fetch(const QString& name, std::function<Result(InternetTransfer&, const QString&)> work,
                    std::function<void(Result)> done)
{
    // A relay file under the URL, on its lane, through the proxy of the settings as they are now.
    const auto& s = m_comm.inet().InternetSettings();
    const QString url = s.URL + u'/' + name;
    m_readKey = url; // the lane a close cancels
    const QString proxy = s.ProxyServerName, proxyPort = s.ProxyPortNo;
    UnitEndpoint::onUrl<Result>(
        m_engine, url, proxy, proxyPort, this,
        [url, work = std::move(work)](InternetTransfer& transfer) { return work(transfer, url); }, std::move(done));
}

void Dialog2::PostOutputRequest(int s)
{
    const QString name = Relay::RequestFileName(m_comm, m_unit);
    if (name.isEmpty()) { // no usable relay file name: nothing can be posted
        setStatus(StatusWord::CommError, Tone::Error);
        RevertSwitch(s);
        endBusy();
        return;
    }
    const bool high = Sw1[s]->Value();
    const QString token = InetInf::ScramblePass(QStringLiteral("SET"), m_comm.inet().InternetSettings().PassWord);
    const QString line = Relay::RequestLine(token, name, OutPort, OutPin, high);
    // The transport belongs to this dialog: closed with it, nothing of the post follows. The
    // server's copy decides, whatever the send reported.
    m_transport.PostOutputRequest(
        0, this, name, line, true, [] { return true; },
        [this, s, high](const Outcome& posted) {
            if (posted.ok()) {
                setOutputLamp(s, high);
            } else {
                // The box's title is the send's error text; a request not written says nothing.
                if (posted.fault != Fault::LocalFile)
                    warn(FaultText(posted), FaultTitle(posted));
                if (posted.fault != Fault::OutputPending)
                    setStatus(StatusWord::CommError, Tone::Error);
                RevertSwitch(s);
            }
            endBusy();
        });
}

void Dialog2::closeEvent(QCloseEvent* event)
{
    if (mayClose())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void Dialog2::reject()
{
    if (mayClose()) // a read ends with the dialog; an output being set does not
        QDialog::reject();
}
