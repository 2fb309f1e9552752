#pragma once
// The port setting dialog of one unit: monitored or not, and the type of each pin; in LAN mode
// the new setting is sent to the unit at once.

#include "MontComm1.h"

#include <QDialog>
#include <array>

class DeviceLink;
class QLineEdit;
class QPushButton;
class QRadioButton;

class Dialog1 : public QDialog {
    Q_OBJECT
public:
    // The unit is comm.CurUnit; the setting goes out through comm.CurLink.
    explicit Dialog1(MontComm1& comm, QWidget* parent = nullptr);

    QLineEdit* Nametext = nullptr;
    QLineEdit* IPtext = nullptr;
    std::array<QRadioButton*, 2> Option3{};
    std::array<QRadioButton*, 8> Option1{};
    std::array<QRadioButton*, 24> Option2{};
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void showUnit();
    void okClick();

    MontComm1& m_comm;
    bool m_sending = false;
};
