#include "relay/MontMain.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/Lamps.h"
#include "platform/MessageBox.h"
#include "outside/Switch.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <tuple>

namespace {
const QColor LightGreen(128, 255, 128);
const QColor LightRed(255, 128, 128);
const QColor AlarmRed(255, 0, 0);
const QColor Orange(255, 128, 0);

void paintBackground(QWidget* w, QPalette::ColorRole role, const QColor& color)
{
    QPalette p = w->palette();
    if (p.color(role) == color)
        return;
    p.setColor(role, color);
    w->setPalette(p);
}
} // namespace

MontMain::MontMain(MontComm1& comm, PollEngine& engine, WindowOpener& opener, QWidget* parent)
    : QDialog(parent)
    , m_comm(comm)
    , m_opener(opener)
    , m_monitor(comm, engine)
{
    setObjectName(QStringLiteral("MontMain"));
    setWindowTitle(QStringLiteral("詳細モニタ"));
    setModal(true);
    m_leds[int(Led::On)] = Lamps::load(comm.workDir(), Lamps::On).pixmap(20, 20);
    m_leds[int(Led::Off)] = Lamps::load(comm.workDir(), Lamps::Off).pixmap(20, 20);
    m_leds[int(Led::Wait)] = Lamps::load(comm.workDir(), Lamps::Wait).pixmap(20, 20);
    buildControls();
    connect(&m_monitor, &DetailMonitor::changed, this, &MontMain::redraw);
    connect(&m_monitor, &DetailMonitor::beep, this, [] { QApplication::beep(); });
    redraw();
    FixAndCentre(*this);
}

MontMain::~MontMain()
{
    m_monitor.StopAll();
}

QGroupBox* MontMain::buildSlot(int i)
{
    const QString n = QString::number(i + 1);
    auto named = [i](QWidget* w, const QString& name) { w->setObjectName(name + QStringLiteral("_%1").arg(i)); };
    auto* frame = FormFrame(this, QStringLiteral("Frame1_%1").arg(i), QStringLiteral("モニタ ") + n);
    Frame1[i] = frame;
    auto* v = new QVBoxLayout(frame);

    NameCombo[i] = new QComboBox(frame);
    named(NameCombo[i], QStringLiteral("NameCombo"));
    NameCombo[i]->setAccessibleName(QStringLiteral("ユニット選択 ") + n);
    NameCombo[i]->setMinimumContentsLength(12);
    v->addWidget(NameCombo[i]);
    connect(NameCombo[i], &QComboBox::activated, this, [this, i](int index) { m_monitor.NameComboClick(i, index); });

    auto* address = new QHBoxLayout;
    Label14[i] = new QLabel(QStringLiteral("IP Address"), frame);
    named(Label14[i], QStringLiteral("Label14"));
    IPtext[i] = new QLineEdit(frame);
    named(IPtext[i], QStringLiteral("IPtext"));
    IPtext[i]->setReadOnly(true);
    IPtext[i]->setAccessibleName(QStringLiteral("IP Address ") + n);
    Label14[i]->setBuddy(IPtext[i]);
    address->addWidget(Label14[i]);
    address->addWidget(IPtext[i], 1);
    v->addLayout(address);

    auto* state = new QHBoxLayout;
    Opencmd[i] = FormButton(frame, QStringLiteral("Opencmd_%1").arg(i), QStringLiteral("接続"));
    connect(Opencmd[i], &QPushButton::clicked, this, [this, i] { m_monitor.OpencmdClick(i); });
    Stattext[i] = new QLineEdit(frame);
    named(Stattext[i], QStringLiteral("Stattext"));
    Stattext[i]->setReadOnly(true);
    Stattext[i]->setAlignment(Qt::AlignCenter);
    Stattext[i]->setAccessibleName(QStringLiteral("状態 ") + n);
    state->addWidget(Opencmd[i]);
    state->addWidget(Stattext[i], 1);
    v->addLayout(state);

    auto* analog = FormFrame(frame, QStringLiteral("FrameAnalog_%1").arg(i), QStringLiteral("ｱﾅﾛｸﾞ入力"));
    auto* ag = new QGridLayout(analog);
    std::array<std::array<QLineEdit*, 3>*, 5> fields{&Aintext0, &Aintext1, &Aintext2, &Aintext3, &temptext};
    const QStringList labels{QStringLiteral("RA0"), QStringLiteral("RA1"), QStringLiteral("RA2"), QStringLiteral("RA3"),
                             QStringLiteral("温度")};
    const QStringList names{QStringLiteral("Aintext0"), QStringLiteral("Aintext1"), QStringLiteral("Aintext2"),
                            QStringLiteral("Aintext3"), QStringLiteral("temptext")};
    for (int k = 0; k < 5; ++k) {
        auto* l = new QLabel(labels[k], analog);
        auto* e = new QLineEdit(analog);
        named(e, names[k]);
        e->setReadOnly(true);
        e->setAlignment(Qt::AlignRight);
        e->setAccessibleName(labels[k] + u' ' + n);
        e->setFixedWidth(DigitsWidth(*e, 8));
        l->setBuddy(e);
        (*fields[k])[i] = e;
        ag->addWidget(l, k, 0);
        ag->addWidget(e, k, 1);
    }
    v->addWidget(analog);

    auto* digital = FormFrame(frame, QStringLiteral("FrameDigital_%1").arg(i), QStringLiteral("ﾃﾞｼﾞﾀﾙ入出力"));
    auto* dg = new QGridLayout(digital);
    dg->addWidget(new QLabel(QStringLiteral("入力"), digital), 0, 1, Qt::AlignCenter);
    dg->addWidget(new QLabel(QStringLiteral("出力"), digital), 0, 2, Qt::AlignCenter);
    dg->addWidget(new QLabel(QStringLiteral("ｽｲｯﾁ"), digital), 0, 3, Qt::AlignCenter);
    for (int p = 0; p < 8; ++p) {
        const int s = i * 8 + p;
        const QString pin = QStringLiteral("RB%1").arg(p);
        dg->addWidget(new QLabel(pin, digital), p + 1, 0);
        auto led = [&](const QString& name, const QString& what) {
            auto* l = new QLabel(digital);
            l->setObjectName(name + QStringLiteral("_%1").arg(s));
            l->setFixedSize(26, 26);
            l->setAlignment(Qt::AlignCenter);
            l->setAutoFillBackground(true);
            l->setAccessibleName(pin + u' ' + what + u' ' + n);
            return l;
        };
        Picture1[s] = led(QStringLiteral("Picture1"), QStringLiteral("入力"));
        Picture2[s] = led(QStringLiteral("Picture2"), QStringLiteral("出力"));
        Sw1[s] = new Switch(digital);
        Sw1[s]->setObjectName(QStringLiteral("Sw1_%1").arg(s));
        Sw1[s]->setAccessibleName(QStringLiteral("ｽｲｯﾁ ") + pin + u' ' + n);
        connect(Sw1[s], &Switch::Flipped, this, [this, s] { m_monitor.SwitchFlipped(s, Sw1[s]->Value()); });
        dg->addWidget(Picture1[s], p + 1, 1, Qt::AlignCenter);
        dg->addWidget(Picture2[s], p + 1, 2, Qt::AlignCenter);
        dg->addWidget(Sw1[s], p + 1, 3, Qt::AlignCenter);
    }
    v->addWidget(digital);
    return frame;
}

void MontMain::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* slotRow = new QHBoxLayout;
    for (int i = 0; i < DetailMonitor::Slots; ++i)
        slotRow->addWidget(buildSlot(i));
    top->addLayout(slotRow);

    ArmSet = FormButton(this, QStringLiteral("ArmSet"), QStringLiteral("アラーム設定"));
    editcmd = FormButton(this, QStringLiteral("editcmd"), QStringLiteral("システム設定"));
    ComEditCmd = FormButton(this, QStringLiteral("ComEditCmd"), QStringLiteral("通信設定"));
    BeepReset = FormButton(this, QStringLiteral("BeepReset"), QStringLiteral("アラーム音解除"));
    Endcmd = FormButton(this, QStringLiteral("Endcmd"), QStringLiteral("終了"));
    TrendCmd = FormButton(this, QStringLiteral("TrendCmd"), QStringLiteral("トレンド"));
    HistoryCmd = FormButton(this, QStringLiteral("HistoryCmd"), QStringLiteral("アラーム履歴"));
    ReportCmd = FormButton(this, QStringLiteral("ReportCmd"), QStringLiteral("帳票"));
    top->addLayout(FormButtonRow({ArmSet, editcmd, ComEditCmd, TrendCmd, HistoryCmd, ReportCmd}, {BeepReset, Endcmd}));
    // Beside the slots, which go on: children of this window, so its modality lets them be used.
    connect(TrendCmd, &QPushButton::clicked, this, [this] { m_opener.open(StationWindow::Trend, this); });
    connect(HistoryCmd, &QPushButton::clicked, this, [this] { m_opener.open(StationWindow::AlarmHistory, this); });
    connect(ReportCmd, &QPushButton::clicked, this, [this] { m_opener.open(StationWindow::Report, this); });
    connect(ArmSet, &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::ArmEdit); });
    connect(editcmd, &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::SysEdit); });
    connect(ComEditCmd, &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::ComEdit); });
    connect(BeepReset, &QPushButton::clicked, this, [this] { m_monitor.BeepResetClick(); });
    connect(Endcmd, &QPushButton::clicked, this, [this] { close(); });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    for (int p = 0; p < 2; ++p) {
        Panels[p] = new QLabel(StatusBar1);
        Panels[p]->setObjectName(QStringLiteral("Panel_%1").arg(p + 1));
        StatusBar1->addWidget(Panels[p], p == 0 ? 0 : 1);
    }
    Panels[0]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral(" モニタ周期： 999 時間")) + 16);
    top->addWidget(StatusBar1);
}

QLineEdit* MontMain::valueField(int slot, int k) const
{
    const std::array<const std::array<QLineEdit*, 3>*, 5> fields{&Aintext0, &Aintext1, &Aintext2, &Aintext3, &temptext};
    return (*fields[k])[slot];
}

void MontMain::redraw()
{
    const QPalette base = QApplication::palette();
    for (int i = 0; i < DetailMonitor::Slots; ++i) {
        const SlotScreen& s = m_monitor.screen(i);
        QComboBox* combo = NameCombo[i];
        QStringList items;
        for (int k = 0; k < combo->count(); ++k)
            items << combo->itemText(k);
        {
            const QSignalBlocker block(combo);
            if (items != s.names) {
                combo->clear();
                combo->addItems(s.names);
            }
            combo->setCurrentIndex(s.index);
        }
        combo->setEnabled(s.selectorEnabled);
        paintBackground(combo, QPalette::Base, s.selectorAlert ? LightRed : base.color(QPalette::Base));
        IPtext[i]->setText(s.ip);
        Label14[i]->setEnabled(m_monitor.addressFieldsEnabled());
        IPtext[i]->setEnabled(m_monitor.addressFieldsEnabled());
        Opencmd[i]->setText(s.openCaption);
        Stattext[i]->setText(s.status);
        paintBackground(Stattext[i], QPalette::Base,
                        s.statusTone == Tone::Good  ? LightGreen
                        : s.statusTone == Tone::Bad ? LightRed
                                                    : base.color(QPalette::Base));
        for (int k = 0; k < 5; ++k) {
            QLineEdit* e = valueField(i, k);
            e->setText(s.values[k]);
            paintBackground(e, QPalette::Base,
                            s.valueActive[k] ? base.color(QPalette::Base) : base.color(QPalette::Window));
        }
        for (int p = 0; p < 8; ++p) {
            const int idx = i * 8 + p;
            const QColor back = base.color(QPalette::Button);
            for (auto [label, led, alarm] : {std::tuple{Picture1[idx], s.inputLed[p], s.inputAlarm[p]},
                                             std::tuple{Picture2[idx], s.outputLed[p], s.outputAlarm[p]}}) {
                if (led == Led::Empty)
                    label->clear();
                else
                    label->setPixmap(m_leds[int(led)]);
                paintBackground(label, QPalette::Window, alarm ? AlarmRed : back);
            }
            Sw1[idx]->setValue(s.switchOn[p]);
            Sw1[idx]->setForeColor(s.switchArmed[p] ? Orange : QColor(Qt::white));
        }
        Frame1[i]->setCursor(s.busy ? Qt::BusyCursor : Qt::ArrowCursor);
    }
    Panels[0]->setText(m_monitor.panel1());
    Panels[1]->setText(m_monitor.panel2());
    BeepReset->setVisible(m_monitor.beepResetVisible());
    // From a switch flip until its output is set or its request posted: busy and disabled.
    const bool switching = m_monitor.switchOperating();
    if (switching != m_switching) {
        m_switching = switching;
        setEnabled(!switching);
        if (switching)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    }
}

void MontMain::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    m_monitor.Activate();
}

void MontMain::openSettingsWindow(StationWindow which)
{
    // The slots go on while the question is open; Yes drops whatever they have under way.
    if (m_monitor.anyActive()) {
        const auto answer =
            m_comm.messages().show(QStringLiteral("モニタを停止します．よろしいですか？"), QStringLiteral("停止確認"),
                                   MessageBoxService::Icon::Question, MessageBoxService::Buttons::YesNo);
        if (answer != MessageBoxService::Answer::Yes)
            return;
    }
    m_monitor.StopAll();
    OpenArgs args;
    args.timeOutGroupEnabled = m_monitor.addressFieldsEnabled();
    m_opener.open(which, this, args);
    m_monitor.Activate();
}

void MontMain::reject()
{
    close(); // Escape ends the window the same way as "終了"
}

void MontMain::closeEvent(QCloseEvent* event)
{
    // No work sits on this window's stack: whatever the slots have under way is dropped now.
    m_monitor.StopAll();
    event->accept();
    QDialog::done(QDialog::Rejected);
}
