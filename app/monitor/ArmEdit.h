#pragma once
// The alarm settings window: one unit's alarm pin and level, and (behind a double-click)
// the retry cycle and count of the monitoring.

#include "shared/MontComm1.h"

#include <QDialog>
#include <array>
#include <optional>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace ArmEditRules {

// The alarm setting the lists describe ("non" when off, else "Ain: 2:High" style), or nothing
// when the pin is not of the chosen kind on the unit or the condition is unknown.
std::optional<QString> BuildArmString(const MontComm1& comm, int unit, bool on, int kindIndex, int pin,
                                      int conditionIndex);
// Whether two stored alarm settings are the same alarm, whatever spacing each was written with.
bool SameArm(const QString& a, const QString& b);

} // namespace ArmEditRules

class ArmEdit : public QDialog {
    Q_OBJECT
public:
    explicit ArmEdit(MontComm1& comm, QWidget* parent = nullptr);

    bool dirty() const { return m_dirty; }
    // The unit whose alarm the window edits; -1 before one is chosen.
    int unit() const { return m_unit; }
    bool retryShown() const;
    void ToggleRetrySection();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void selectUnit(int index);
    void optionClick();
    void showRetry();
    void setClick();
    void endClick();
    bool ask();

    QGroupBox* Frame2 = nullptr;
    QComboBox* DevName = nullptr;
    std::array<QRadioButton*, 2> Option3{};
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QComboBox* Combo4 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QLineEdit* Recycl = nullptr;
    QSlider* Slider1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* Recount = nullptr;
    QSlider* Slider2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

    MontComm1& m_comm;
    int m_unit = -1;
    QString m_armString;
    bool m_dirty = false;
};
