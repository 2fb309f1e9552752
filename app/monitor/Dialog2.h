#pragma once
// The detail monitor dialog of one unit: its analogue inputs, temperature and pins, read on
// demand, and switches that set its outputs. In LAN mode it talks to the unit on the poll
// engine's lane of that unit; in download mode it fetches the relay data file on the lane of
// its URL and posts output requests. Every exchange reports back to the dialog, which stays
// busy (busy pointer, controls off, no closing) until then.
//
// Larger than most forms (about 460 lines) because it is a form with two ways to its unit, the
// unit itself and the relay files, each with its read and its output path.

#include "monitor/BusyCursor.h"
#include "monitor/DetailRead.h"
#include "shared/MontComm1.h"
#include "shared/RelayTransport.h"
#include "monitor/UnitWork.h"

#include <QDialog>
#include <QTimer>
#include <array>
#include <functional>

class PollEngine;
class InternetTransfer;
class QLabel;
class QLineEdit;
class QPushButton;
class Switch;

class Dialog2 : public QDialog {
    Q_OBJECT
public:
    // The unit is the table's row unit; with readOnShow it is read once the dialog is on the screen.
    Dialog2(MontComm1& comm, PollEngine& engine, int unit, bool readOnShow, QWidget* parent = nullptr);

    enum class Tone { Window, Good, Error };

    Tone statusTone() const { return m_tone; }
    // The lamp file a picture shows; empty when it shows nothing.
    const QString& inputLamp(int p) const { return m_inputLamps[p]; }
    const QString& outputLamp(int p) const { return m_outputLamps[p]; }
    // True from the start of a read or switch operation until its last answer is in.
    bool busy() const { return m_busy; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
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
    void beginBusy();
    void endBusy();
    void setControlsEnabled(bool enabled);
    // Closing: a read under way is cancelled on its lane; false while a switch is at work.
    bool mayClose();
    void readDirect(int unit);
    void directRead(int unit, const UnitWork::ProbedReading& r);
    void readRelayed(int unit);
    void relayFetched(int unit, const QString& dataName, const QString& paramLine, const QString& text);
    void SetOutputDirect(int s);
    void PostOutputRequest(int s);
    template <class Result>
    void fetch(const QString& name, std::function<Result(InternetTransfer&, const QString&)> work,
               std::function<void(Result)> done);
    void warn(const QString& text, const QString& title);

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

    MontComm1& m_comm;
    const int m_unit;
    PollEngine& m_engine;
    // The request file's post goes over the Internet only, through this dialog's own control.
    RelayTransport m_transport{m_comm, m_engine, 1, RelayTransport::Route::Internet};
    Tone m_tone = Tone::Window;
    bool m_busy = false;
    bool m_switching = false; // an output is being set or its request posted: no closing
    bool m_abandoned = false; // closed during a read: its answer changes nothing
    QString m_readKey;        // the lane of the read under way
    bool m_readOnShow = false;
    BusyCursor m_cursor;
    std::array<QString, 8> m_inputLamps;
    std::array<QString, 8> m_outputLamps;
    QIcon m_on;
    QIcon m_off;
    // The output being switched (station-wide names of the upload side).
    int32_t OutPort = 6;
    int16_t OutPin = 0;
    bool OutPinState = false;
};
