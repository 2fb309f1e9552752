#pragma once
// The communication mode window of the main window: download over the Internet or LAN.

#include "shared/MontComm1.h"

#include <QDialog>
#include <array>
#include <functional>

class QPushButton;
class QRadioButton;

class ComEdit2 : public QDialog {
    Q_OBJECT
public:
    explicit ComEdit2(MontComm1& comm, QWidget* parent = nullptr);

    // How "インターネット設定" shows the Internet settings window (modally, over this one).
    std::function<void(QWidget* parent)> showInetSettings;
    // How "MQTT設定" shows the MQTT settings window.
    std::function<void(QWidget* parent)> showMqttSettings;
    // How "Web設定" shows the web view's settings window.
    std::function<void(QWidget* parent)> showWebSettings;

    int choiceIndex() const { return m_choice; }

private:
    void modeOptClick(int index);
    void StoreCommMode();

    std::array<QRadioButton*, 2> ModeOpt{};
    QPushButton* InetCmd = nullptr;
    QPushButton* MqttCmd = nullptr;
    QPushButton* WebCmd = nullptr;
    QPushButton* EndCmd = nullptr;

    MontComm1& m_comm;
    int16_t m_choice = 0;
};
