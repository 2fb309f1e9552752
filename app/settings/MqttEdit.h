#pragma once
// The MQTT settings window "MQTT設定", opened from the communication settings. It only shows
// and collects the fields; MqttInf checks and stores them.

#include "MqttInf.h"

#include <QDialog>

class MessageBoxService;
class QCheckBox;
class QLineEdit;
class QPushButton;

class MqttEdit : public QDialog {
    Q_OBJECT
public:
    MqttEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent = nullptr);

    // Whether the settings were saved (the station then connects again with them).
    bool saved() const { return m_saved; }

    QLineEdit* txtBroker = nullptr;
    QLineEdit* txtCaFile = nullptr;
    QLineEdit* txtClientId = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassWord = nullptr;
    QLineEdit* txtTopicPrefix = nullptr;
    QCheckBox* chkDiscovery = nullptr;
    QPushButton* OKCmd = nullptr;
    QPushButton* CancelCmd = nullptr;

private:
    void okClick();

    MessageBoxService& m_messages;
    MqttInf m_inf;
    bool m_saved = false;
};
