#pragma once
// The trend window "トレンド": the data logs as charts, beside the monitoring (modeless). One
// unit's analogue readings and temperature above and its eight pins as step lines below, or up
// to four channels of different units; a period of an hour to seven days or a chosen range;
// live while the range ends now; zoom and pan with the mouse (wheel, drag) and the keys
// (+, -, ←, →, Home); the shown range saved as PNG or copied as CSV.

#include "TrendModel.h"

#include <QTimer>
#include <QWidget>
#include <array>

class Clock;
class QCheckBox;
class QAbstractSeries;
class QChart;
class QLineSeries;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QRadioButton;
class QValueAxis;
class SysInf;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int LiveMs = 1000;

    TrendWindow(const SysInf& sys, QString workDir, const Clock& clock, QWidget* parent = nullptr);

    std::array<QRadioButton*, 2> Mode{}; // one unit, or chosen channels
    QComboBox* UnitCombo = nullptr;
    std::array<QComboBox*, 4> ChannelUnit{};
    std::array<QComboBox*, 4> Channel{};
    QComboBox* PeriodCombo = nullptr;
    QDateTimeEdit* FromEdit = nullptr;
    QDateTimeEdit* ToEdit = nullptr;
    QCheckBox* LiveCheck = nullptr;
    QPushButton* SavePng = nullptr;
    QPushButton* CopyCsv = nullptr;
    QPushButton* CloseCmd = nullptr;
    QChartView* AnalogChart = nullptr;
    QChartView* PinChart = nullptr;
    QLabel* StatusText = nullptr;

    const TrendModel& model() const { return m_model; }
    // Reads the selection and the period afresh (the controls call it).
    void reload();
    // One live step: the lines written since are added (the timer calls it every second).
    void liveStep();
    // The charts as a picture; false when it could not be written.
    bool savePng(const QString& path);
    // Zooms the time axis by factor around its middle (below 1: in) and moves it by a fraction of its width.
    void zoom(double factor);
    void pan(double fraction);
    void resetView();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    std::vector<TrendSeries> chosenSeries() const;
    void draw();
    void showRange(DataLog::Seconds from, DataLog::Seconds to);
    int columns() const;

    const SysInf& m_sys;
    const Clock& m_clock;
    TrendModel m_model;
    QChart* m_analog = nullptr;
    QChart* m_pins = nullptr;
    QDateTimeAxis* m_analogTime = nullptr;
    QDateTimeAxis* m_pinTime = nullptr;
    QValueAxis* m_analogValue = nullptr;
    QValueAxis* m_pinValue = nullptr;
    // Each series' lines: the first carries its name, the others go on after its gaps.
    std::vector<std::vector<QLineSeries*>> m_lines;
    std::vector<QAbstractSeries*> m_shades; // the quiet periods, on both charts
    QTimer m_live;
    QTimer m_reread; // a zoom or pan reads the new range once the wheel has stopped
    QPoint m_dragFrom;
    bool m_dragging = false;
    bool m_zoomed = false;
};
