#pragma once
// The system settings window: registers units and sets the monitor cycle and time-out.

#include "settings/SysEditRules.h"
#include "shared/MontComm1.h"

#include <QDialog>
#include <array>
#include <functional>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class SysEdit : public QDialog {
    Q_OBJECT
public:
    // The window's load: it takes the shared data as they are now.
    explicit SysEdit(MontComm1& comm, QWidget* parent = nullptr);

    // The main window's mode switch: the time-out group is for LAN mode only.
    void SetTimeOutGroupEnabled(bool enabled);
    // How "メール設定" shows the mail settings window (modally, over this one).
    std::function<void(QWidget* parent)> showMailSettings;
    std::function<void(QWidget* parent)> showLogSettings;
    std::function<void(QWidget* parent)> showChannelSettings;

    bool dirty() const { return m_dirty; }

private:
    void buildControls();
    void RefreshWindow(int sel);
    void selectEntry(int index);
    void showRow(int row);
    UnitFields fields() const;
    int selectedEntry() const;
    bool ValidateEntry(EntryMode mode);
    bool TableChanged() const;
    bool ask(const QString& text, const QString& title);
    void warn(const QString& text, const QString& title);
    void addClick();
    void deleteClick();
    void changeClick();
    void endClick();

    QComboBox* DevName = nullptr;
    std::array<QLineEdit*, 4> IPtext{};
    QLineEdit* LCDtext = nullptr; // LCDtext(0)
    QLineEdit* IOtext = nullptr;  // IOtext(1)
    QLineEdit* RStext = nullptr;  // RStext(2)
    QComboBox* BPScombo = nullptr;
    std::array<QRadioButton*, 8> Option1{};
    std::array<QRadioButton*, 24> Option2{};
    std::array<QRadioButton*, 2> Option3{};
    std::array<QRadioButton*, 6> Option4{};
    QLineEdit* Cycltext = nullptr;
    QLineEdit* TimeComm = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* MailSET = nullptr;
    QPushButton* LogCmd = nullptr;
    QPushButton* ChannelCmd = nullptr;

    MontComm1& m_comm;
    int m_current = 0;
    bool m_dirty = false;
    bool m_showing = false; // the window is showing stored values, not taking the operator's
    std::array<DeviceRecord, SysInf::TableRows> m_snapshot;
    QString m_channelsText; // ChannelInf.csv as the window found it
};
