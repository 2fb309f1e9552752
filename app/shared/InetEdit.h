#pragma once
// The Internet settings window: FTP account, relay file names, download URL and time-out,
// proxy, dial-up entry and the abnormality-notice folders.

#include "shared/MontComm1.h"

#include <QDialog>
#include <array>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class InetEdit : public QDialog {
    Q_OBJECT
public:
    explicit InetEdit(MontComm1& comm, QWidget* parent = nullptr);

    int workingTimeOut() const { return m_timeOut; }

private:
    void buildControls();
    void ShowTimeOut();
    bool IsInetChanged() const;
    bool CheckFileNames();
    bool StoreInetSettings();
    void endClick();

    QGroupBox* Frame1 = nullptr;
    QLabel* lbldname = nullptr;
    QLabel* lbldusr = nullptr;
    QLabel* lbldpwd = nullptr;
    QLineEdit* frmDialUpName = nullptr;
    QLineEdit* frmDialUpUser = nullptr;
    QLineEdit* frmDialUpPass = nullptr;
    QLineEdit* ProxyName = nullptr;
    QLineEdit* ProxyPNo = nullptr;
    QComboBox* DevName = nullptr;
    QLineEdit* FNameText = nullptr;
    QLineEdit* ftpText = nullptr;
    QLineEdit* IdText = nullptr;
    QLineEdit* PwdText = nullptr;
    QLineEdit* RmtDirText = nullptr;
    std::array<QLineEdit*, 4> camname{};
    QLineEdit* URLText = nullptr;
    QLineEdit* TimeComm = nullptr;
    QSlider* Slider1 = nullptr;
    QPushButton* SetCmd = nullptr;
    QPushButton* EndCmd = nullptr;

    MontComm1& m_comm;
    std::array<QString, UnitSlots> m_fileNames;
    int16_t m_timeOut = 0;
};
