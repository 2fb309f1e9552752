#pragma once
// The log settings window "ログ保存設定", opened from the system settings: whether the data
// logs are archived by month, and for how many months. LogInf checks and stores the fields.

#include "shared/LogInf.h"

#include <QDialog>

class MessageBoxService;
class QCheckBox;
class QPushButton;
class QSpinBox;

class LogEdit : public QDialog {
    Q_OBJECT
public:
    LogEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent = nullptr);

    // Whether the settings were saved (the station then keeps its logs by them at once).
    bool saved() const { return m_saved; }

private:
    void okClick();

    QCheckBox* chkArchive = nullptr;
    QSpinBox* txtKeepMonths = nullptr;
    QPushButton* OKCmd = nullptr;
    QPushButton* CancelCmd = nullptr;

    MessageBoxService& m_messages;
    LogInf m_inf;
    bool m_saved = false;
};
