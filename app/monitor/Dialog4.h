#pragma once
// Sends the stored port setting to every monitored unit in one pass, one unit at a time on the
// poll engine's lane of that unit.

#include "monitor/BusyCursor.h"
#include "shared/MontComm1.h"

#include <QDialog>

class PollEngine;
class QLineEdit;
class QProgressBar;
class QPushButton;

class Dialog4 : public QDialog {
    Q_OBJECT
public:
    Dialog4(MontComm1& comm, PollEngine& engine, QWidget* parent = nullptr);

    bool passing() const { return m_passing; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void okClick();
    void runPass();
    void sendFrom(int unit);
    void unitDone(int unit, const QString& name, bool ok);
    void endPass();

    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    MontComm1& m_comm;
    PollEngine& m_engine;
    bool m_passing = false;
    bool m_stopRequested = false;
    int m_handled = 0;
    BusyCursor m_cursor;
};
