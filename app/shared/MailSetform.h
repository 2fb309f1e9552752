#pragma once
// The mail settings window: the server, sender, subject and text of the alarm mail.

#include "shared/MontComm1.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

class MailSetform : public QDialog {
    Q_OBJECT
public:
    explicit MailSetform(MontComm1& comm, QWidget* parent = nullptr);

private:
    void setClick();

    QLineEdit* SMTPName = nullptr;
    QLineEdit* SendName = nullptr;
    QLineEdit* Mailheader = nullptr;
    QLineEdit* Honbun = nullptr; // one line: the settings file holds no line break
    QPushButton* SetCmd = nullptr;
    QPushButton* EndCmd = nullptr;

    MontComm1& m_comm;
};
