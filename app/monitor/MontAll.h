#pragma once
// The start-up window: all registered units, thirty to a page, with their lamps.

#include "platform/InstanceLock.h"
#include "shared/DiskWatch.h"
#include "monitor/MonitorCycle.h"
#include "platform/WindowOpener.h"

#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

class MontAll : public QWidget, public MonitorView {
    Q_OBJECT
public:
    // Polls and the dialogs' exchanges go through the engine.
    MontAll(MontComm1& comm, PollEngine& engine, WindowOpener& opener, QWidget* parent = nullptr);
    ~MontAll() override;

    // The window's load: false when another station runs in this directory (the program ends).
    bool Load();
    // Shows why the web view does not serve (empty: hides it).
    void showWebFault(const QString& why);
    MonitorCycle& cycle() { return *m_cycle; }

    // MonitorView
    void screenChanged() override;
    void beep() override;

    // What a row shows, for tests and the accessibility of the lamps.
    Lamp rowLamp(int row) const { return m_lamps[row]; }
    RowTone rowTone(int row) const { return m_tones[row]; }

    DiskWatch disk;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void openSettingsWindow(StationWindow which, bool redraw);
    void openUnitDialog(StationWindow which, int row);
    void showModal(StationWindow which, const OpenArgs& args);
    void quit();
    void showMqttState();

    std::array<QLineEdit*, RowsPerPage> DevName{};
    std::array<QLabel*, RowsPerPage> Picture1{};
    std::array<QPushButton*, 2> Command1{};
    std::array<QPushButton*, 3> Command2{};
    QPushButton* editcmd = nullptr;
    QPushButton* ArmSet = nullptr;
    QPushButton* ComEditCmd = nullptr;
    QPushButton* BeepReset = nullptr;
    QPushButton* EndCmd = nullptr;
    QPushButton* TrendCmd = nullptr;
    QPushButton* HistoryCmd = nullptr;
    QPushButton* ReportCmd = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::array<QLabel*, 3> Panels{};
    // The MQTT broker's state, beside the panels and apart from them; hidden while MQTT is off.
    QLabel* MqttState = nullptr;
    // Why the web view is not serving though enabled; hidden otherwise.
    QLabel* WebState = nullptr;
    QTimer timMqtt; // looks at the MQTT client's state every second

    MontComm1& m_comm;
    WindowOpener& m_opener;
    std::unique_ptr<MonitorCycle> m_cycle;
    std::unique_ptr<InstanceLock> m_lock;
    std::array<Lamp, RowsPerPage> m_lamps{};
    std::array<RowTone, RowsPerPage> m_tones{};
    std::array<QIcon, 4> m_icons;
    std::array<QPixmap, 4> m_pixmaps;
    bool m_lampsDrawn = false;
    bool m_shownOnce = false;
    bool m_closing = false;
};
