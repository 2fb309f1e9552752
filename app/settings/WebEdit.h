#pragma once
// The web view's settings window "Web設定", opened from the communication settings. It shows
// and collects the fields; WebInf checks and stores them. The password is never shown or
// stored: a new one typed here is saved as its hash, an empty field keeps the one there is.

#include "web/WebInf.h"

#include <QDialog>

class MessageBoxService;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class WebEdit : public QDialog {
    Q_OBJECT
public:
    WebEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent = nullptr);

    // Whether the settings were saved (the station then starts the view again with them).
    bool saved() const { return m_saved; }

private:
    void okClick();

    QCheckBox* chkEnabled = nullptr;
    QLineEdit* txtListen = nullptr;
    QLineEdit* txtPassWord = nullptr;
    QCheckBox* chkNoPassWord = nullptr;
    QLineEdit* txtCertFile = nullptr;
    QLineEdit* txtKeyFile = nullptr;
    QLabel* lblRule = nullptr;
    QPushButton* OKCmd = nullptr;
    QPushButton* CancelCmd = nullptr;

    MessageBoxService& m_messages;
    WebInf m_inf;
    bool m_saved = false;
};
