#pragma once
// The MQTT settings window "MQTT設定", opened from the communication settings. It only shows
// and collects the fields; MqttInf checks and stores them. "接続テスト" tries the fields as they
// stand, off the UI thread, and says within TestLimitMs whether the broker took them.

#include "shared/MqttInf.h"
#include "outside/MqttPublisher.h"

#include <QDialog>
#include <QTimer>

class MessageBoxService;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class MqttEdit : public QDialog {
    Q_OBJECT
public:
    static constexpr int TestLimitMs = 10000;

    MqttEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent = nullptr);

    // Whether the settings were saved (the station then connects again with them).
    bool saved() const { return m_saved; }

    // True while a connection test is out.
    bool testing() const { return m_testOut; }
    // Tests shorten the test's limit.
    void setTestLimitMs(int ms) { m_testTimer.setInterval(ms); }

private:
    void okClick();
    void testClick();
    void testDone(int attempt, const MqttLinkState& state);
    MqttSettings fields() const;

    QLineEdit* txtBroker = nullptr;
    QLineEdit* txtCaFile = nullptr;
    QLineEdit* txtClientId = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassWord = nullptr;
    QLineEdit* txtTopicPrefix = nullptr;
    QCheckBox* chkDiscovery = nullptr;
    QPushButton* TestCmd = nullptr;
    QLabel* TestResult = nullptr;
    QPushButton* OKCmd = nullptr;
    QPushButton* CancelCmd = nullptr;

    MessageBoxService& m_messages;
    QString m_workDir;
    MqttInf m_inf;
    QTimer m_testTimer; // the limit: a test that has not answered by then has failed
    int m_testAttempt = 0;
    bool m_testOut = false;
    bool m_saved = false;
};
