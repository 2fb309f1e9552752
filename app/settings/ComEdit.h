#pragma once
// The communication mode window of the detail monitor: Internet or LAN, upload or download,
// and the folder a LAN upload writes to.

#include "shared/MontComm1.h"

#include <QDialog>
#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class ComEdit : public QDialog {
    Q_OBJECT
public:
    explicit ComEdit(MontComm1& comm, QWidget* parent = nullptr);

    // How "インターネット設定" shows the Internet settings window (modally, over this one).
    std::function<void(QWidget* parent)> showInetSettings;
    // How "MQTT設定" shows the MQTT settings window.
    std::function<void(QWidget* parent)> showMqttSettings;
    // How "Web設定" shows the web view's settings window.
    std::function<void(QWidget* parent)> showWebSettings;

    int choiceIndex() const { return m_choice; }

private:
    void buildControls();
    void modeOptClick(int index);
    void modeComboClick();
    void setFolderEnabled(bool enabled);
    void StoreCommMode();

    std::array<QRadioButton*, 2> ModeOpt{};
    QComboBox* ModeCombo = nullptr;
    QLabel* lblFname = nullptr;
    QLineEdit* txtFname = nullptr;
    QPushButton* InetCmd = nullptr;
    QPushButton* MqttCmd = nullptr;
    QPushButton* WebCmd = nullptr;
    QPushButton* EndCmd = nullptr;

    MontComm1& m_comm;
    int16_t m_choice = 0;
};
