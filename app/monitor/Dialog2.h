#pragma once
// The detail monitor dialog of one unit: its analogue inputs, temperature and pins, read on
// demand, and switches that set its outputs. In LAN mode it talks to the unit through
// CurLink; in download mode it reads the relay data file and posts output requests.

#include "DetailRead.h"
#include "FtpClient.h"
#include "MontComm1.h"

#include <QDialog>
#include <QTimer>
#include <array>

class InternetTransfer;
class QLabel;
class QLineEdit;
class QPushButton;
class Switch;

class Dialog2 : public QDialog {
    Q_OBJECT
public:
    // The unit is comm.CurUnit; DLdComp fetches the relay files in download mode.
    Dialog2(MontComm1& comm, InternetTransfer& DLdComp, QWidget* parent = nullptr);

    enum class Tone { Window, Good, Error };

    QLineEdit* Nametext = nullptr;
    QLineEdit* IPtext = nullptr;
    QPushButton* Opencmd = nullptr;
    QLineEdit* Stattext = nullptr;
    std::array<QLineEdit*, 4> Aintext{};
    QLineEdit* temptext = nullptr;
    std::array<QLabel*, 8> Picture1{};
    std::array<QLabel*, 8> Picture2{};
    std::array<Switch*, 8> Sw1{};
    QPushButton* CancelButton = nullptr;
    FtpClient ftp1;
    QTimer timFtp;

    Tone statusTone() const { return m_tone; }
    // The lamp file a picture shows; empty when it shows nothing.
    const QString& inputLamp(int p) const { return m_inputLamps[p]; }
    const QString& outputLamp(int p) const { return m_outputLamps[p]; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    bool unitValid() const;
    void openClick();
    void switchFlipped(int s);
    void setStatus(const QString& text, Tone tone);
    void ResetSwitches();
    void ArmOutputSwitches();
    void PrepareSlotDisplay();
    void RevertSwitch(int s);
    void showReading(const Detail::Shown& shown);
    void setInputLamp(int p, bool high);
    void setOutputLamp(int p, bool high);
    bool readDirect();
    bool readRelayed();
    void SetOutputDirect(int s);
    void PostOutputRequest(int s);
    bool UpLdFileChk(const QString& name, const QString& expected);
    void useProxyRule();
    void warn(const QString& text, const QString& title);

    MontComm1& m_comm;
    InternetTransfer& m_transfer;
    Tone m_tone = Tone::Window;
    bool m_busy = false;
    std::array<QString, 8> m_inputLamps;
    std::array<QString, 8> m_outputLamps;
    QIcon m_on;
    QIcon m_off;
    // The output being switched (station-wide names of the upload side).
    int32_t OutPort = 6;
    int16_t OutPin = 0;
    bool OutPinState = false;
};
