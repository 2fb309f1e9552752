#pragma once
// Sends the stored port setting to every monitored unit in one pass.

#include "MontComm1.h"

#include <QDialog>

class QLineEdit;
class QProgressBar;
class QPushButton;

class Dialog4 : public QDialog {
    Q_OBJECT
public:
    // The setting goes out through comm.CurLink.
    explicit Dialog4(MontComm1& comm, QWidget* parent = nullptr);

    bool passing() const { return m_passing; }

    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void okClick();
    void runPass();

    MontComm1& m_comm;
    bool m_passing = false;
    bool m_stopRequested = false;
};
