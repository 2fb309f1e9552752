#include "monitor/MontAll.h"

#include "shared/FtpUpload.h"
#include "outside/DeviceLink.h"
#include "shared/TableWords.h"
#include "platform/EventPump.h"
#include "platform/Lamps.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// An alert row is light red (0x8080FF as blue-green-red); a normal one has the window's own base.
QColor toneColour(RowTone tone, const QPalette& palette)
{
    return tone == RowTone::Alert ? QColor(0xFF, 0x80, 0x80) : palette.color(QPalette::Base);
}

const QString Caption = QStringLiteral("Talveron");

} // namespace

MontAll::MontAll(MontComm1& comm, PollEngine& engine, WindowOpener& opener, QWidget* parent)
    : QWidget(parent)
    , disk(comm.workDir(), comm.journal())
    , m_comm(comm)
    , m_opener(opener)
{
    setObjectName(QStringLiteral("MontAll"));
    setWindowTitle(Caption);
    m_cycle = std::make_unique<MonitorCycle>(comm, *this, engine);
    m_cycle->Timer1.setObjectName(QStringLiteral("Timer1"));
    m_cycle->Timer2.setObjectName(QStringLiteral("Timer2"));
    m_cycle->BeepTimer.setObjectName(QStringLiteral("BeepTimer"));
    m_icons[int(Lamp::Off)] = Lamps::load(comm.workDir(), Lamps::Off);
    m_icons[int(Lamp::On)] = Lamps::load(comm.workDir(), Lamps::On);
    m_icons[int(Lamp::GivenUp)] = Lamps::load(comm.workDir(), Lamps::GivenUp);
    for (int i = 1; i < 4; ++i)
        m_pixmaps[i] = m_icons[i].pixmap(24, 24);
    m_tones.fill(RowTone::Normal);
    buildControls();
    for (int r = 0; r < RowsPerPage; ++r)
        Picture1[r]->clear();
    m_lampsDrawn = true; // every row now shows its (empty) lamp
}

MontAll::~MontAll()
{
    m_cycle->Shutdown();
    m_comm.alarms().StopMail(); // a mail under way ends with the window, not at its time-out
}

void MontAll::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* title = new QLabel(Caption, this);
    title->setObjectName(QStringLiteral("Label15"));
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    title->setFont(big);
    // The title row has room at its right: the reports button goes there, so nothing described moves.
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(title);
    titleRow->addStretch();
    top->addLayout(titleRow);

    auto* grid = new QGridLayout;
    for (int col = 0; col < 3; ++col) {
        auto* nameHead = new QLabel(QStringLiteral("　　名称　　"), this);
        nameHead->setObjectName(QStringLiteral("Label%1").arg(col + 1));
        auto* stateHead = new QLabel(QStringLiteral("状態"), this);
        stateHead->setObjectName(QStringLiteral("Label%1").arg(col + 4));
        grid->addWidget(nameHead, 0, col * 2);
        grid->addWidget(stateHead, 0, col * 2 + 1);
    }
    for (int r = 0; r < RowsPerPage; ++r) {
        auto* name = new QLineEdit(this);
        name->setObjectName(QStringLiteral("DevName_%1").arg(r));
        name->setReadOnly(true);
        name->setFocusPolicy(Qt::NoFocus); // out of the tab order
        name->setMinimumWidth(150);
        name->setAutoFillBackground(true);
        name->installEventFilter(this);
        DevName[r] = name;
        auto* lamp = new QLabel(this);
        lamp->setObjectName(QStringLiteral("Picture1_%1").arg(r));
        lamp->setFixedSize(24, 24);
        lamp->setFocusPolicy(Qt::NoFocus);
        lamp->installEventFilter(this);
        Picture1[r] = lamp;
        grid->addWidget(name, 1 + r % 10, (r / 10) * 2);
        grid->addWidget(lamp, 1 + r % 10, (r / 10) * 2 + 1);
    }
    top->addLayout(grid);

    auto* buttons = new QGridLayout;
    auto makeButton = [&](const QString& name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        return b;
    };
    Command1[0] = makeButton(QStringLiteral("Command1_0"), QString());
    Command1[0]->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    Command1[1] = makeButton(QStringLiteral("Command1_1"), QString());
    Command1[1]->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    Command2[0] = makeButton(QStringLiteral("Command2_0"), QStringLiteral("開始"));
    Command2[1] = makeButton(QStringLiteral("Command2_1"), QStringLiteral("ポート設定"));
    Command2[2] = makeButton(QStringLiteral("Command2_2"), QStringLiteral("詳細モニタ"));
    editcmd = makeButton(QStringLiteral("editcmd"), QStringLiteral("システム設定"));
    ArmSet = makeButton(QStringLiteral("ArmSet"), QStringLiteral("アラーム設定"));
    ComEditCmd = makeButton(QStringLiteral("ComEditCmd"), QStringLiteral("通信設定"));
    BeepReset = makeButton(QStringLiteral("BeepReset"), QStringLiteral("アラーム音解除"));
    EndCmd = makeButton(QStringLiteral("EndCmd"), QStringLiteral("終了"));
    TrendCmd = makeButton(QStringLiteral("TrendCmd"), QStringLiteral("トレンド"));
    HistoryCmd = makeButton(QStringLiteral("HistoryCmd"), QStringLiteral("アラーム履歴"));
    ReportCmd = makeButton(QStringLiteral("ReportCmd"), QStringLiteral("帳票"));
    BeepReset->setVisible(false);
    buttons->addWidget(Command1[0], 0, 0);
    buttons->addWidget(Command1[1], 0, 1);
    buttons->addWidget(Command2[0], 0, 2);
    buttons->addWidget(Command2[1], 0, 3);
    buttons->addWidget(Command2[2], 0, 4);
    buttons->addWidget(BeepReset, 0, 5);
    buttons->addWidget(editcmd, 1, 2);
    buttons->addWidget(ArmSet, 1, 3);
    buttons->addWidget(ComEditCmd, 1, 4);
    buttons->addWidget(EndCmd, 1, 5);
    buttons->addWidget(TrendCmd, 1, 0);
    buttons->addWidget(HistoryCmd, 1, 1);
    titleRow->addWidget(ReportCmd, 0, Qt::AlignBottom);
    top->addLayout(buttons);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        Panels[i] = new QLabel(StatusBar1);
        Panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        StatusBar1->addWidget(Panels[i], i == 0 ? 3 : 1);
    }
    // A permanent widget of its own: the three panels keep their place and their texts.
    MqttState = new QLabel(StatusBar1);
    MqttState->setObjectName(QStringLiteral("MqttState"));
    MqttState->setMaximumWidth(220);
    MqttState->setVisible(false);
    StatusBar1->addPermanentWidget(MqttState);
    WebState = new QLabel(StatusBar1);
    WebState->setObjectName(QStringLiteral("WebState"));
    WebState->setMaximumWidth(220);
    WebState->setVisible(false);
    StatusBar1->addPermanentWidget(WebState);
    top->addWidget(StatusBar1);

    connect(Command1[0], &QPushButton::clicked, this, [this] { m_cycle->Page(0); });
    connect(Command1[1], &QPushButton::clicked, this, [this] { m_cycle->Page(1); });
    connect(Command2[0], &QPushButton::clicked, this, [this] { m_cycle->StartStop(); });
    connect(Command2[1], &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::Dialog4, true); });
    connect(Command2[2], &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::MontMain, true); });
    connect(editcmd, &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::SysEdit, false); });
    connect(ArmSet, &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::ArmEdit, false); });
    connect(ComEditCmd, &QPushButton::clicked, this, [this] { openSettingsWindow(StationWindow::ComEdit2, false); });
    connect(BeepReset, &QPushButton::clicked, this, [this] { m_cycle->BeepResetClick(); });
    connect(EndCmd, &QPushButton::clicked, this, &MontAll::quit);
    // The history windows open beside the monitoring, which goes on.
    connect(TrendCmd, &QPushButton::clicked, this, [this] { m_opener.open(StationWindow::Trend, this); });
    connect(HistoryCmd, &QPushButton::clicked, this, [this] { m_opener.open(StationWindow::AlarmHistory, this); });
    connect(ReportCmd, &QPushButton::clicked, this, [this] { m_opener.open(StationWindow::Report, this); });
    // In the title bar, where it hides none of the status panels, the alarm text above all.
    connect(&disk, &DiskWatch::warning, this, [this](const QString& text) {
        const QString title = windowTitle();
        const qsizetype mark = title.indexOf(QStringLiteral("　―　"));
        setWindowTitle((mark < 0 ? title : title.left(mark)) +
                       (text.isEmpty() ? QString() : QStringLiteral("　―　") + text.trimmed()));
    });
}

void MontAll::showMqttState()
{
    const auto state = m_comm.mqtt().linkState();
    MqttState->setVisible(state.has_value());
    if (!state)
        return;
    const QString text = QStringLiteral("MQTT ") + MqttFeed::LinkText(*state);
    MqttState->setToolTip(text);
    // A long reason is cut to the widget's width; the tooltip holds it whole.
    MqttState->setText(MqttState->fontMetrics().elidedText(text, Qt::ElideRight, MqttState->maximumWidth()));
    QPalette palette = MqttState->palette();
    palette.setColor(QPalette::WindowText, state->connected ? palette.color(QPalette::Text) : QColor(0xB0, 0, 0));
    MqttState->setPalette(palette);
}

void MontAll::showWebFault(const QString& why)
{
    const QString text = QStringLiteral("Web 停止（%1）").arg(why);
    WebState->setVisible(!why.isEmpty());
    WebState->setToolTip(text);
    WebState->setText(WebState->fontMetrics().elidedText(text, Qt::ElideRight, WebState->maximumWidth()));
    QPalette palette = WebState->palette();
    palette.setColor(QPalette::WindowText, QColor(0xB0, 0, 0));
    WebState->setPalette(palette);
}

bool MontAll::Load()
{
    setWindowTitle(windowTitle() + QStringLiteral("  Ver2.1"));
    m_lock = std::make_unique<InstanceLock>(m_comm.workDir());
    if (!m_lock->acquire()) {
        // A station that really holds the lock gets the refusal; any other failure says what went wrong.
        m_comm.messages().show(m_lock->failure().isEmpty() ? QStringLiteral("　複数の起動は認めません！　")
                                                           : m_lock->failure(),
                               MessageBoxService::applicationTitle(), MessageBoxService::Icon::Exclamation,
                               MessageBoxService::Buttons::Ok);
        return false;
    }
    adjustSize();
    setFixedSize(sizeHint()); // the design size: not resizable, minimising allowed
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    m_cycle->LoadState();
    disk.start();
    Notify(m_comm.messages(), m_comm.logs().start());
    timMqtt.setObjectName(QStringLiteral("timMqtt"));
    timMqtt.setInterval(1000);
    connect(&timMqtt, &QTimer::timeout, this, &MontAll::showMqttState);
    timMqtt.start();
    return true;
}

void MontAll::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        m_cycle->Activate();
    }
}

void MontAll::closeEvent(QCloseEvent* event)
{
    // Closing the window in any way ends the program at once.
    m_closing = true;
    m_cycle->Shutdown();
    m_comm.alarms().StopMail();
    event->accept();
    QCoreApplication::quit();
}

void MontAll::quit()
{
    m_cycle->Shutdown();
    close();
}

bool MontAll::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int r = 0; r < RowsPerPage; ++r) {
            if (watched == Picture1[r]) {
                openUnitDialog(StationWindow::Dialog1, r);
                return true;
            }
            if (watched == DevName[r]) {
                openUnitDialog(StationWindow::Dialog2, r);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MontAll::showModal(StationWindow which, const OpenArgs& args)
{
    m_opener.open(which, this, args);
    if (m_closing)
        return;
    m_cycle->Activate(); // the return from a modal window is an activation
}

void MontAll::openSettingsWindow(StationWindow which, bool redraw)
{
    if (!m_cycle->StopForWindow(redraw))
        return;
    OpenArgs args;
    args.timeOutGroupEnabled = m_cycle->modeControlsLan();
    showModal(which, args);
}

void MontAll::openUnitDialog(StationWindow which, int row)
{
    const int u = m_cycle->pageOffset() + row;
    if (u >= m_comm.sys().unitCount())
        return;
    if (which == StationWindow::Dialog2 && m_comm.sys().cell(u, ColControl) != TableWord::On)
        return;
    const bool wasRunning = m_cycle->running();
    const auto paused = m_cycle->PauseForDialog(u);
    OpenArgs args;
    args.unit = u;
    args.readOnShow =
        which == StationWindow::Dialog2 && m_comm.units().unitItem(ItemFailureCount, u) == -1 && wasRunning;
    showModal(which, args);
    if (m_closing)
        return;
    m_cycle->ResumeAfterDialog(paused);
}

// --- MonitorView ---

// Only what changed is touched: the cycle reports after every poll.
void MontAll::screenChanged()
{
    const MonitorScreen& screen = m_cycle->screen();
    for (int r = 0; r < RowsPerPage; ++r) {
        const MonitorScreen::Row& row = screen.rows[r];
        if (DevName[r]->text() != row.name)
            DevName[r]->setText(row.name);
        const QColor colour = toneColour(row.tone, palette());
        if (m_tones[r] != row.tone || DevName[r]->palette().color(QPalette::Base) != colour) {
            m_tones[r] = row.tone;
            QPalette p = DevName[r]->palette();
            p.setColor(QPalette::Base, colour);
            DevName[r]->setPalette(p);
        }
        if (m_lamps[r] != row.lamp || !m_lampsDrawn) {
            m_lamps[r] = row.lamp;
            if (row.lamp == Lamp::None)
                Picture1[r]->clear();
            else
                Picture1[r]->setPixmap(m_pixmaps[int(row.lamp)]);
        }
    }
    for (int i = 0; i < 3; ++i)
        if (Panels[i]->text() != screen.panels[i])
            Panels[i]->setText(screen.panels[i]);
    if (BeepReset->isHidden() == screen.beepResetVisible)
        BeepReset->setVisible(screen.beepResetVisible);
    if (Command2[0]->text() != screen.startCaption)
        Command2[0]->setText(screen.startCaption);
    Command2[1]->setEnabled(screen.portSettingEnabled);
}

void MontAll::beep()
{
    QApplication::beep();
}
