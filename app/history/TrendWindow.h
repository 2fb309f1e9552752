#pragma once
// The trend window "トレンド": the data logs as charts, beside the monitoring (modeless). One
// unit's analogue readings and temperature above and its eight pins as step lines below, or up
// to four channels of different units; a period of an hour to seven days or a chosen range;
// live while the range ends now; zoom and pan with the mouse (wheel about the pointer, drag)
// and the keys (+, -, ←, →, Home); the values under the pointer read out below the charts; the
// shown range saved as PNG, copied as CSV, or written to a CSV file on a worker.

#include "history/TrendModel.h"

#include "platform/Worker.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class Clock;
class QCheckBox;
class QAbstractSeries;
class QCategoryAxis;
class QChart;
class QLineSeries;
class QChartView;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QValueAxis;
class SysInf;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int LiveMs = 1000;

    TrendWindow(const SysInf& sys, const ChannelTable& channels, QString workDir, const Clock& clock,
                QWidget* parent = nullptr);
    ~TrendWindow() override;

    const TrendModel& model() const { return m_model; }
    // Reads the selection and the period afresh (the controls call it).
    void reload();
    // One live step: the lines written since are added (the timer calls it every second).
    void liveStep();
    // The charts as a picture; false when it could not be written.
    bool savePng(const QString& path);
    // Zooms the time axis by factor (below 1: in) about a time (its middle when none) and moves it
    // by a fraction of its width.
    void zoom(double factor, std::optional<DataLog::Seconds> anchor = std::nullopt);
    void pan(double fraction);
    void resetView();
    // One unit's channels around a moment (an alarm's), not live.
    void showAt(int unit, const QDateTime& at);
    // Writes the shown range of the units shown to path on a worker; the progress bar follows it.
    void saveCsv(const QString& path);
    bool savingCsv() const { return m_csvWorker.out(); }
    // What the read-out says for a point of a chart's viewport.
    QString readOutAt(QChartView* view, QPointF pos) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    std::vector<TrendSeries> chosenSeries() const;
    void draw();
    void showRange(DataLog::Seconds from, DataLog::Seconds to);
    void setTimeAxes(DataLog::Seconds from, DataLog::Seconds to);
    void alignPlots();
    bool handleKey(int key);
    std::optional<DataLog::Seconds> timeAt(QChartView* view, QPointF pos) const;
    int columns() const;

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
    QPushButton* SaveCsv = nullptr;
    QPushButton* CloseCmd = nullptr;
    QChartView* AnalogChart = nullptr;
    QChartView* PinChart = nullptr;
    QLabel* ReadOut = nullptr;
    QLabel* StatusText = nullptr;
    QProgressBar* CsvProgress = nullptr;

    const SysInf& m_sys;
    const ChannelTable& m_channels;
    const Clock& m_clock;
    TrendModel m_model;
    QChart* m_analog = nullptr;
    QChart* m_pins = nullptr;
    QCategoryAxis* m_analogTime = nullptr;
    QCategoryAxis* m_pinTime = nullptr;
    // One value axis per unit text of the series shown (raw readings "RA", "温度(℃)", "m", …),
    // alternately left and right; the first always there.
    std::vector<QValueAxis*> m_valueAxes;
    std::vector<int> m_seriesAxis; // each series' axis in m_valueAxes; -1 for a pin
    size_t m_usedAxes = 1;         // the first axes of m_valueAxes, those shown
    QCategoryAxis* m_pinValue = nullptr;
    // Each series' lines: the first carries its name, the others go on after its gaps.
    std::vector<std::vector<QLineSeries*>> m_lines;
    std::vector<QAbstractSeries*> m_shades; // the quiet periods, on both charts
    QTimer m_live;
    QTimer m_reread; // a zoom or pan reads the new range once the wheel has stopped
    QPoint m_dragFrom;
    bool m_dragging = false;
    bool m_zoomed = false;
    bool m_aligning = false;
    std::array<QMargins, 2> m_extra{}; // the margins each chart takes so both plot areas line up
    std::shared_ptr<TrendModel::CsvProgress> m_csvProgress;
    QTimer m_csvWatch;
    Worker m_csvWorker; // last: joined (after a cancel) before the window's parts go
};
