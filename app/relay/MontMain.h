#pragma once
// The detail monitor window: three slots side by side, each with its unit selector, start and
// stop, status, readings, LEDs and output switches. It draws what its DetailMonitor holds.

#include "relay/DetailMonitor.h"
#include "platform/WindowOpener.h"

#include <QDialog>
#include <QPixmap>
#include <array>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class Switch;

class MontMain : public QDialog {
    Q_OBJECT
public:
    MontMain(MontComm1& comm, PollEngine& engine, WindowOpener& opener, QWidget* parent = nullptr);
    ~MontMain() override;

    DetailMonitor& monitor() { return m_monitor; }
    // Brings the widgets in line with the monitor's screen.
    void redraw();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void buildControls();
    QGroupBox* buildSlot(int slot);
    void openSettingsWindow(StationWindow which);
    QLineEdit* valueField(int slot, int k) const;

    std::array<QGroupBox*, 3> Frame1{};
    std::array<QComboBox*, 3> NameCombo{};
    std::array<QLabel*, 3> Label14{};
    std::array<QLineEdit*, 3> IPtext{};
    std::array<QPushButton*, 3> Opencmd{};
    std::array<QLineEdit*, 3> Stattext{};
    std::array<QLineEdit*, 3> Aintext0{}, Aintext1{}, Aintext2{}, Aintext3{};
    std::array<QLineEdit*, 3> temptext{};
    std::array<QLabel*, 24> Picture1{};
    std::array<QLabel*, 24> Picture2{};
    std::array<Switch*, 24> Sw1{};
    QPushButton* ArmSet = nullptr;
    QPushButton* editcmd = nullptr;
    QPushButton* ComEditCmd = nullptr;
    QPushButton* BeepReset = nullptr;
    QPushButton* Endcmd = nullptr;
    QPushButton* TrendCmd = nullptr;
    QPushButton* HistoryCmd = nullptr;
    QPushButton* ReportCmd = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::array<QLabel*, 2> Panels{};

    MontComm1& m_comm;
    WindowOpener& m_opener;
    DetailMonitor m_monitor;
    std::array<QPixmap, 4> m_leds; // by Led
    bool m_shownOnce = false;
    bool m_switching = false;
};
