#pragma once
// The port setting dialog of one unit: monitored or not, and the type of each pin; in LAN mode
// the new setting is sent to the unit at once, on the poll engine's lane of that unit.

#include "monitor/BusyCursor.h"
#include "shared/MontComm1.h"

#include <QDialog>
#include <array>

class PollEngine;
class QLineEdit;
class QPushButton;
class QRadioButton;

class Dialog1 : public QDialog {
    Q_OBJECT
public:
    // The unit is the table's row unit; the setting goes out through the engine.
    Dialog1(MontComm1& comm, PollEngine& engine, int unit, QWidget* parent = nullptr);

    // True while a setting is on its way to the unit: the dialog cannot be closed meanwhile.
    bool sending() const { return m_sending; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void showUnit();
    void okClick();
    void sent(bool ok, const QString& caption);

    QLineEdit* Nametext = nullptr;
    QLineEdit* IPtext = nullptr;
    std::array<QRadioButton*, 2> Option3{};
    std::array<QRadioButton*, 8> Option1{};
    std::array<QRadioButton*, 24> Option2{};
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    MontComm1& m_comm;
    const int m_unit;
    PollEngine& m_engine;
    bool m_sending = false;
    bool m_abandoned = false; // closed during the send: its answer changes nothing
    QString m_sendKey;        // the lane of the send under way
    BusyCursor m_cursor;
    void abandonSend();
};
