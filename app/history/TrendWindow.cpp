// The trend window: its controls, the two charts and the live timer.

#include "history/TrendWindow.h"

#include "platform/Clock.h"
#include "platform/FormParts.h"
#include "shared/SysInf.h"
#include "shared/TableWords.h"
#include "history/TrendScale.h"

#include <QApplication>
#include <QAreaSeries>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLegendMarker>
#include <QLineSeries>
#include <QProgressBar>
#include <QRadioButton>
#include <QSet>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

constexpr int CsvLines = 200000;
const std::array<DataLog::Seconds, 4> Periods = {3600, 8 * 3600, 86400, 7 * 86400};
const QString Stamp = QStringLiteral("yyyy/MM/dd HH:mm:ss");

// Thirteen colours that stay apart on white, one for each channel a unit can show.
const std::array<QColor, DataLog::Channels> Colours = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
    QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f),
    QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf), QColor(0x00, 0x00, 0x80), QColor(0x80, 0x00, 0x00),
    QColor(0x00, 0x60, 0x30)};

QComboBox* combo(QWidget* parent, const QString& name, const QString& label)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setAccessibleName(label);
    return c;
}

QChart* newChart(QChartView*& view, QWidget* parent, const QString& name, QCategoryAxis*& time)
{
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setMargins(QMargins(4, 4, 4, 4));
    time = new QCategoryAxis;
    // The labels stand at round times, the ticks' own values.
    time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    chart->addAxis(time, Qt::AlignBottom);
    view = new QChartView(chart, parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing, false);
    view->setMinimumSize(640, 200);
    view->setFocusPolicy(Qt::StrongFocus); // the arrow keys pan once a chart is clicked
    view->viewport()->setMouseTracking(true);
    return chart;
}

QValueAxis* valueAxis(QChart* chart, Qt::Alignment side, const QString& title)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    chart->addAxis(axis, side);
    return axis;
}

// The axis on round values: low..high widened to whole steps of 1, 2 or 5 × 10ⁿ.
void setRoundRange(QValueAxis* axis, double low, double high, int maxTicks)
{
    const double step = TrendScale::ValueStep(high - low, maxTicks);
    const auto [a, b] = TrendScale::RoundRange(low, high, step);
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    if (axis->tickInterval() != step)
        axis->setTickInterval(step);
    if (axis->min() != a || axis->max() != b)
        axis->setRange(a, b);
}

void clearCategories(QCategoryAxis* axis)
{
    for (const QString& label : axis->categoriesLabels())
        axis->remove(label);
}

// A live step changes only the last buckets, unless the range slid or was read afresh: only the
// points that differ are handed to the chart, which otherwise lays the whole series out again.
void updatePoints(QLineSeries* line, const QList<QPointF>& points)
{
    const int have = int(line->count());
    if (have == 0 || have > points.size() || line->at(0) != points[0]) {
        line->replace(points);
        return;
    }
    for (int i = std::max(0, have - 4); i < have; ++i)
        if (line->at(i) != points[i])
            line->replace(i, points[i]);
    for (int i = have; i < points.size(); ++i)
        line->append(points[i]);
}

QLineSeries* addLine(QChart* chart, QAbstractAxis* time, QAbstractAxis* value, const QString& name,
                     const QColor& colour)
{
    auto* line = new QLineSeries;
    line->setName(name);
    chart->addSeries(line);
    line->attachAxis(time);
    line->attachAxis(value);
    QPen pen = line->pen();
    pen.setColor(colour);
    pen.setWidthF(1.5);
    line->setPen(pen);
    return line;
}

void hideFromLegend(QChart* chart, QAbstractSeries* series)
{
    for (QLegendMarker* m : chart->legend()->markers(series))
        m->setVisible(false);
}

// A grey band over x0..x1 from y0 to y1: the log's lines there are not readings.
QAbstractSeries* addShade(QChart* chart, QAbstractAxis* time, QAbstractAxis* value, double x0, double x1, double y0,
                          double y1, bool named)
{
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    upper->append({QPointF(x0, y1), QPointF(x1, y1)});
    lower->append({QPointF(x0, y0), QPointF(x1, y0)});
    auto* area = new QAreaSeries(upper, lower);
    upper->setParent(area);
    lower->setParent(area);
    area->setName(QStringLiteral("通信断・監視停止"));
    area->setColor(QColor(0x80, 0x80, 0x80, 0x50));
    area->setBorderColor(Qt::transparent);
    chart->addSeries(area);
    area->attachAxis(time);
    area->attachAxis(value);
    if (!named)
        hideFromLegend(chart, area);
    return area;
}

// The points of a series at x, or its nearest within reach: "min～max" when a bucket saw both.
std::optional<std::pair<double, double>> valuesAt(const QList<QPointF>& points, double x, double reach)
{
    auto it = std::lower_bound(points.begin(), points.end(), x, [](const QPointF& p, double v) { return p.x() < v; });
    if (it != points.begin() && (it == points.end() || x - std::prev(it)->x() < it->x() - x))
        --it;
    if (it == points.end() || std::abs(it->x() - x) > reach)
        return std::nullopt;
    double low = it->y(), high = it->y();
    for (auto j = it; j != points.end() && j->x() == it->x(); ++j) {
        low = std::min(low, j->y());
        high = std::max(high, j->y());
    }
    return std::make_pair(low, high);
}

} // namespace

TrendWindow::TrendWindow(const SysInf& sys, const ChannelTable& channels, QString workDir, const Clock& clock,
                         QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_sys(sys)
    , m_channels(channels)
    , m_clock(clock)
    , m_model(std::move(workDir))
{
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(QStringLiteral("トレンド"));
    buildControls();
    // Wide enough for the time labels and the legends side by side.
    resize(1100, 760);
    m_live.setInterval(LiveMs);
    connect(&m_live, &QTimer::timeout, this, &TrendWindow::liveStep);
    m_reread.setSingleShot(true);
    m_reread.setInterval(150);
    connect(&m_reread, &QTimer::timeout, this, [this] {
        m_model.load(m_model.from(), m_model.to(), columns(), DataLog::toSeconds(m_clock.now()));
        draw();
    });
    m_csvWatch.setInterval(200);
    connect(&m_csvWatch, &QTimer::timeout, this, [this] {
        if (m_csvProgress && m_csvProgress->total > 0) {
            CsvProgress->setMaximum(m_csvProgress->total);
            CsvProgress->setValue(m_csvProgress->done);
        }
    });
    reload();
    AnalogChart->setFocus();
}

TrendWindow::~TrendWindow()
{
    // A file still being written is given up: the worker stops at its next slice.
    if (m_csvProgress)
        m_csvProgress->cancel = true;
}

void TrendWindow::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* choose = new QHBoxLayout;
    Mode[0] = new QRadioButton(QStringLiteral("ユニット"), this);
    Mode[1] = new QRadioButton(QStringLiteral("チャンネル"), this);
    for (int i = 0; i < 2; ++i) {
        Mode[i]->setObjectName(QStringLiteral("Mode_%1").arg(i));
        Mode[i]->setAccessibleName(Mode[i]->text());
    }
    Mode[0]->setChecked(true);
    QStringList names;
    for (int u = 0; u < m_sys.unitCount(); ++u)
        names << m_sys.cell(u, ColName);
    UnitCombo = combo(this, QStringLiteral("UnitCombo"), QStringLiteral("ユニット"));
    UnitCombo->addItems(names);
    choose->addWidget(Mode[0]);
    choose->addWidget(UnitCombo, 1);
    choose->addWidget(Mode[1]);
    auto* channels = new QGridLayout;
    QStringList channelNames;
    for (int c = 0; c < DataLog::Channels; ++c)
        channelNames << TrendModel::ChannelName(c);
    for (int i = 0; i < 4; ++i) {
        ChannelUnit[i] =
            combo(this, QStringLiteral("ChannelUnit_%1").arg(i), QStringLiteral("チャンネル%1 ユニット").arg(i + 1));
        ChannelUnit[i]->addItem(QStringLiteral("なし"));
        ChannelUnit[i]->addItems(names);
        Channel[i] = combo(this, QStringLiteral("Channel_%1").arg(i), QStringLiteral("チャンネル%1").arg(i + 1));
        Channel[i]->addItems(channelNames);
        channels->addWidget(ChannelUnit[i], i / 2, (i % 2) * 2);
        channels->addWidget(Channel[i], i / 2, (i % 2) * 2 + 1);
    }
    choose->addLayout(channels, 2);
    top->addLayout(choose);

    auto* period = new QHBoxLayout;
    PeriodCombo = combo(this, QStringLiteral("PeriodCombo"), QStringLiteral("期間"));
    PeriodCombo->addItems({QStringLiteral("1時間"), QStringLiteral("8時間"), QStringLiteral("24時間"),
                           QStringLiteral("7日"), QStringLiteral("期間指定")});
    PeriodCombo->setCurrentIndex(2);
    const QDateTime now = m_clock.now();
    FromEdit = new QDateTimeEdit(now.addDays(-1), this);
    FromEdit->setObjectName(QStringLiteral("FromEdit"));
    FromEdit->setAccessibleName(QStringLiteral("開始"));
    ToEdit = new QDateTimeEdit(now, this);
    ToEdit->setObjectName(QStringLiteral("ToEdit"));
    ToEdit->setAccessibleName(QStringLiteral("終了"));
    for (QDateTimeEdit* e : {FromEdit, ToEdit}) {
        e->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm"));
        e->setCalendarPopup(true);
        e->setEnabled(false);
    }
    LiveCheck = new QCheckBox(QStringLiteral("ライブ更新"), this);
    LiveCheck->setObjectName(QStringLiteral("LiveCheck"));
    LiveCheck->setAccessibleName(LiveCheck->text());
    LiveCheck->setChecked(true);
    period->addWidget(new QLabel(QStringLiteral("期間"), this));
    period->addWidget(PeriodCombo);
    period->addWidget(FromEdit);
    period->addWidget(new QLabel(QStringLiteral("～"), this));
    period->addWidget(ToEdit);
    period->addWidget(LiveCheck);
    period->addStretch(1);
    top->addLayout(period);

    m_analog = newChart(AnalogChart, this, QStringLiteral("AnalogChart"), m_analogTime);
    m_valueAxes.push_back(valueAxis(m_analog, Qt::AlignLeft, QStringLiteral("RA")));
    m_pins = newChart(PinChart, this, QStringLiteral("PinChart"), m_pinTime);
    m_pinValue = new QCategoryAxis;
    // A lane's name beside it; its upper level is ON, its lower OFF. (Two labels a lane would
    // not fit: Qt cuts a label to "..." when the next one is nearer than its height.)
    m_pinValue->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    m_pinValue->setTitleText(QStringLiteral("上:ON　下:OFF"));
    m_pinValue->setGridLineVisible(false);
    m_pins->addAxis(m_pinValue, Qt::AlignLeft);
    top->addWidget(AnalogChart, 3);
    top->addWidget(PinChart, 3);
    for (QChartView* v : {AnalogChart, PinChart}) {
        v->installEventFilter(this);
        v->viewport()->installEventFilter(this);
    }
    for (QChart* c : {m_analog, m_pins})
        connect(c, &QChart::plotAreaChanged, this, [this] {
            // After the layout pass that moved it: both charts have their new areas by then.
            QMetaObject::invokeMethod(this, &TrendWindow::alignPlots, Qt::QueuedConnection);
        });

    ReadOut = new QLabel(this);
    ReadOut->setObjectName(QStringLiteral("ReadOut"));
    ReadOut->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(ReadOut);

    StatusText = new QLabel(this);
    StatusText->setObjectName(QStringLiteral("StatusText"));
    CsvProgress = new QProgressBar(this);
    CsvProgress->setObjectName(QStringLiteral("CsvProgress"));
    CsvProgress->setAccessibleName(QStringLiteral("CSV保存の進み具合"));
    CsvProgress->setMaximumWidth(160);
    CsvProgress->setVisible(false);
    SavePng = FormButton(this, QStringLiteral("SavePng"), QStringLiteral("PNG保存"));
    CopyCsv = FormButton(this, QStringLiteral("CopyCsv"), QStringLiteral("CSVコピー"));
    SaveCsv = FormButton(this, QStringLiteral("SaveCsv"), QStringLiteral("CSV保存"));
    CloseCmd = FormButton(this, QStringLiteral("CloseCmd"), QStringLiteral("閉じる"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(StatusText, 1);
    bottom->addWidget(CsvProgress);
    bottom->addLayout(FormButtonRow({}, {SavePng, CopyCsv, SaveCsv, CloseCmd}));
    top->addLayout(bottom);

    auto again = [this] {
        m_zoomed = false;
        reload();
    };
    connect(Mode[0], &QRadioButton::toggled, this, again);
    connect(UnitCombo, &QComboBox::currentIndexChanged, this, again);
    for (int i = 0; i < 4; ++i) {
        connect(ChannelUnit[i], &QComboBox::currentIndexChanged, this, again);
        connect(Channel[i], &QComboBox::currentIndexChanged, this, again);
    }
    connect(PeriodCombo, &QComboBox::currentIndexChanged, this, [this, again](int index) {
        FromEdit->setEnabled(index == 4);
        ToEdit->setEnabled(index == 4);
        again();
    });
    connect(FromEdit, &QDateTimeEdit::dateTimeChanged, this, again);
    connect(ToEdit, &QDateTimeEdit::dateTimeChanged, this, again);
    connect(LiveCheck, &QCheckBox::toggled, this, again);
    connect(SavePng, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("PNG保存"),
                                                          QDir::home().filePath(QStringLiteral("trend.png")),
                                                          QStringLiteral("PNG (*.png)"));
        if (!path.isEmpty() && !savePng(path))
            StatusText->setText(QStringLiteral("PNG を保存できませんでした：") + path);
    });
    connect(CopyCsv, &QPushButton::clicked, this, [this] {
        const TrendModel::CsvCopy copy = m_model.csv(CsvLines, m_channels);
        QApplication::clipboard()->setText(copy.text);
        const QString period = DataLog::fromSeconds(copy.from).toString(Stamp) + QStringLiteral(" ～ ") +
                               DataLog::fromSeconds(copy.to).toString(Stamp);
        StatusText->setText(copy.cut ? QStringLiteral("CSV をコピーしました（%1 行まで：新しい %2 のみ）。"
                                                      "全体は「CSV保存」で")
                                           .arg(CsvLines)
                                           .arg(period)
                                     : QStringLiteral("CSV をコピーしました（%1、%2 行）").arg(period).arg(copy.lines));
    });
    connect(SaveCsv, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("CSV保存"),
                                                          QDir::home().filePath(QStringLiteral("trend.csv")),
                                                          QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty())
            saveCsv(path);
    });
    connect(CloseCmd, &QPushButton::clicked, this, &QWidget::close);
}

int TrendWindow::columns() const
{
    return std::max(100, AnalogChart->width() - 120);
}

std::vector<TrendSeries> TrendWindow::chosenSeries() const
{
    std::vector<TrendSeries> out;
    auto add = [&](int unit, int channel) {
        if (unit < 0 || unit >= m_sys.unitCount())
            return;
        // A channel the unit does not use has no readings: its log column is a filler.
        if (channel < DataLog::Temperature && m_sys.cell(unit, ColRA0 + channel) == TableWord::Non)
            return;
        TrendSeries s;
        s.unit = unit;
        s.channel = channel;
        if (const ChannelLine* l = channel < DataLog::Temperature ? m_channels.find(unit, channel) : nullptr)
            s.line = *l;
        s.title = m_sys.cell(unit, ColName) + u' ' + (s.line ? s.line->caption() : TrendModel::ChannelName(channel));
        out.push_back(s);
    };
    if (Mode[0]->isChecked()) {
        for (int c = 0; c < DataLog::Channels; ++c)
            add(UnitCombo->currentIndex(), c);
    } else {
        for (int i = 0; i < 4; ++i)
            add(ChannelUnit[i]->currentIndex() - 1, Channel[i]->currentIndex());
    }
    // The pins stack top-down in the order listed, as the legend lists them.
    const auto pins = int(std::count_if(out.begin(), out.end(), [](const TrendSeries& s) { return s.pin(); }));
    int lane = pins;
    for (TrendSeries& s : out)
        if (s.pin())
            s.lane = --lane;
    return out;
}

void TrendWindow::reload()
{
    m_model.setSeries(chosenSeries());
    for (QChart* chart : {m_analog, m_pins})
        chart->removeAllSeries();
    m_lines.clear();
    m_shades.clear();
    // The pins' lanes by name, top-down as the legend lists them.
    clearCategories(m_pinValue);
    int pins = 0;
    for (const TrendSeries& s : m_model.series())
        pins += s.pin() ? 1 : 0;
    m_pinValue->setStartValue(-0.5);
    QStringList labels(pins);
    for (const TrendSeries& s : m_model.series())
        if (s.pin())
            labels[s.lane] = !Mode[0]->isChecked() ? s.title
                             : s.line              ? s.line->name
                                                   : TrendModel::ChannelName(s.channel);
    QSet<QString> taken;
    for (int lane = 0; lane < labels.size(); ++lane) {
        // A category's label is its key: the same channel of two units needs telling apart.
        while (taken.contains(labels[lane]))
            labels[lane] += u' ';
        taken.insert(labels[lane]);
        m_pinValue->append(labels[lane], 2.0 * lane + 1.5);
    }
    // One axis per unit text, in the order the series first name it; the first on the left.
    // Axes are kept for the next choice and hidden while unused: a chart that loses an axis
    // may go on drawing its labels.
    m_seriesAxis.clear();
    QStringList titles;
    for (const TrendSeries& s : m_model.series()) {
        if (s.pin()) {
            m_seriesAxis.push_back(-1);
            continue;
        }
        qsizetype a = titles.indexOf(s.axisTitle());
        if (a < 0) {
            a = titles.size();
            titles << s.axisTitle();
            if (size_t(a) >= m_valueAxes.size())
                m_valueAxes.push_back(valueAxis(m_analog, a % 2 ? Qt::AlignRight : Qt::AlignLeft, QString()));
        }
        m_seriesAxis.push_back(int(a));
    }
    if (titles.isEmpty())
        titles << QStringLiteral("RA");
    for (size_t a = 0; a < m_valueAxes.size(); ++a) {
        m_valueAxes[a]->setTitleText(a < size_t(titles.size()) ? titles[qsizetype(a)] : QString());
        m_valueAxes[a]->setVisible(a < size_t(titles.size()));
    }
    m_usedAxes = size_t(titles.size());
    int colour = 0;
    for (size_t i = 0; i < m_model.series().size(); ++i) {
        const TrendSeries& s = m_model.series()[i];
        const QColor c = Colours[size_t(colour++ % DataLog::Channels)];
        QAbstractAxis* value = s.pin() ? static_cast<QAbstractAxis*>(m_pinValue) : m_valueAxes[size_t(m_seriesAxis[i])];
        m_lines.push_back(
            {addLine(s.pin() ? m_pins : m_analog, s.pin() ? m_pinTime : m_analogTime, value, s.title, c)});
    }
    // After the series: attaching one sets the axis to its data's range.
    m_pinValue->setRange(-0.5, std::max(1, pins) * 2.0 - 0.5);
    const int period = PeriodCombo->currentIndex();
    DataLog::Seconds from, to;
    if (period == 4) {
        from = DataLog::toSeconds(FromEdit->dateTime());
        to = DataLog::toSeconds(ToEdit->dateTime());
    } else {
        to = DataLog::toSeconds(m_clock.now());
        from = to - Periods[period] + 1;
    }
    m_model.load(from, std::max(from, to), columns(), DataLog::toSeconds(m_clock.now()));
    draw();
    if (LiveCheck->isChecked() && period != 4 && !m_zoomed)
        m_live.start();
    else
        m_live.stop();
}

void TrendWindow::liveStep()
{
    m_model.follow(DataLog::toSeconds(m_clock.now()));
    draw();
}

void TrendWindow::setTimeAxes(DataLog::Seconds from, DataLog::Seconds to)
{
    // As many ticks as their labels fit side by side in the plot's width.
    const QString widest = to - from > 86400 ? QStringLiteral("00/00 00:00") : QStringLiteral("00:00:00");
    const int plotWidth = std::max(200, int(m_analog->plotArea().width()));
    const int maxTicks = std::max(2, plotWidth / (fontMetrics().horizontalAdvance(widest) + 24));
    const DataLog::Seconds step = TrendScale::TimeStep(from, to, maxTicks);
    const qint64 offsetMs = TrendModel::toMs(from) - from * 1000;
    for (QCategoryAxis* axis : {m_analogTime, m_pinTime}) {
        clearCategories(axis);
        axis->setStartValue(double(from * 1000 + offsetMs - 1));
        for (const DataLog::Seconds t : TrendScale::TimeTicks(from, to, step))
            axis->append(TrendScale::TimeLabel(t, step, to - from), double(t * 1000 + offsetMs));
        axis->setRange(double(from * 1000 + offsetMs), double(to * 1000 + offsetMs));
    }
}

void TrendWindow::draw()
{
    // Each unit text on an axis of its own.
    const size_t axes = m_usedAxes;
    std::vector<double> low(axes, 0), high(axes, 1);
    std::vector<bool> any(axes, false);
    for (size_t i = 0; i < m_model.series().size() && i < m_lines.size(); ++i) {
        const TrendSeries& s = m_model.series()[i];
        QChart* chart = s.pin() ? m_pins : m_analog;
        auto& lines = m_lines[i];
        // One line from each gap to the next, in the colour of the first.
        const int pieces = int(s.breaks.size()) + 1;
        while (int(lines.size()) < pieces) {
            QLineSeries* more = addLine(chart, s.pin() ? m_pinTime : m_analogTime, lines.front()->attachedAxes().back(),
                                        s.title, lines.front()->color());
            hideFromLegend(chart, more);
            lines.push_back(more);
        }
        while (int(lines.size()) > pieces) {
            chart->removeSeries(lines.back());
            delete lines.back();
            lines.pop_back();
        }
        for (int k = 0; k < pieces; ++k) {
            const int start = k == 0 ? 0 : s.breaks[k - 1];
            const int end = k + 1 < pieces ? s.breaks[k] : int(s.points.size());
            updatePoints(lines[k], s.points.mid(start, end - start));
        }
        if (!s.pin()) {
            const auto a = size_t(m_seriesAxis[i]);
            for (const QPointF& pt : s.points) {
                low[a] = any[a] ? std::min(low[a], pt.y()) : pt.y();
                high[a] = any[a] ? std::max(high[a], pt.y()) : pt.y();
                any[a] = true;
            }
        }
    }
    const int valueTicks = std::max(2, AnalogChart->height() / 30);
    for (size_t a = 0; a < axes; ++a) {
        // A little room above and below, so no line runs along the frame; a flat line in the
        // middle. Engineering values may be small: the room follows the values' size.
        const double size = std::max({std::abs(low[a]), std::abs(high[a]), 1e-9});
        const QString title = m_valueAxes[a]->titleText();
        const bool raw = title == u"RA" || title == TrendModel::ChannelName(DataLog::Temperature);
        const double floor = raw ? 0.5 : size * 0.01;
        const double room = std::max(floor, (high[a] - low[a]) * 0.02);
        setRoundRange(m_valueAxes[a], low[a] - room, high[a] + room, valueTicks);
    }
    for (QAbstractSeries* shade : m_shades) {
        shade->chart()->removeSeries(shade);
        delete shade;
    }
    m_shades.clear();
    for (const QuietPeriod& q : m_model.quiet()) {
        const double x0 = double(TrendModel::toMs(std::max(q.from, m_model.from())));
        const double x1 = double(TrendModel::toMs(std::min(q.to, m_model.to())));
        if (x1 <= x0)
            continue;
        const bool named = m_shades.empty();
        m_shades.push_back(addShade(m_analog, m_analogTime, m_valueAxes.front(), x0, x1, m_valueAxes.front()->min(),
                                    m_valueAxes.front()->max(), named));
        m_shades.push_back(
            addShade(m_pins, m_pinTime, m_pinValue, x0, x1, m_pinValue->min(), m_pinValue->max(), named));
    }
    setTimeAxes(m_model.from(), m_model.to());
    StatusText->setText(QStringLiteral("%1 ～ %2　%3 行")
                            .arg(DataLog::fromSeconds(m_model.from()).toString(Stamp),
                                 DataLog::fromSeconds(m_model.to()).toString(Stamp))
                            .arg(m_model.lines()) +
                        (m_model.skipped() ? QStringLiteral("（読めない行 %1）").arg(m_model.skipped()) : QString()));
}

void TrendWindow::alignPlots()
{
    // Each chart's plot area without the margin it was given; both take the larger inset on
    // either side, so one time runs at one x in both charts.
    const std::array<QChart*, 2> charts = {m_analog, m_pins};
    std::array<double, 2> left{}, right{};
    for (size_t i = 0; i < 2; ++i) {
        const QRectF area = charts[i]->plotArea();
        left[i] = area.left() - m_extra[i].left();
        right[i] = charts[i]->size().width() - area.right() - m_extra[i].right();
    }
    const double l = std::max(left[0], left[1]);
    const double r = std::max(right[0], right[1]);
    for (size_t i = 0; i < 2; ++i) {
        const QMargins extra(int(std::lround(l - left[i])), 0, int(std::lround(r - right[i])), 0);
        if (extra == m_extra[i])
            continue;
        m_extra[i] = extra;
        charts[i]->setMargins(QMargins(4, 4, 4, 4) + extra);
    }
}

void TrendWindow::showRange(DataLog::Seconds from, DataLog::Seconds to)
{
    m_zoomed = true;
    m_live.stop();
    if (to <= from)
        to = from + 1;
    // The axes follow at once; the log is read again for the new range once the wheel stops.
    setTimeAxes(from, to);
    m_model.setRange(from, to); // the points come with the reread
    m_reread.start();
}

void TrendWindow::zoom(double factor, std::optional<DataLog::Seconds> anchor)
{
    const DataLog::Seconds from = m_model.from(), to = m_model.to();
    const auto [a, b] = TrendScale::ZoomAbout(from, to, anchor.value_or(from + (to - from) / 2), factor);
    showRange(a, b);
}

void TrendWindow::pan(double fraction)
{
    const auto shift = DataLog::Seconds(std::llround((m_model.to() - m_model.from()) * fraction));
    showRange(m_model.from() + shift, m_model.to() + shift);
}

void TrendWindow::resetView()
{
    m_zoomed = false;
    reload();
}

void TrendWindow::showAt(int unit, const QDateTime& at)
{
    {
        const QSignalBlocker a(Mode[0]), b(Mode[1]), c(UnitCombo), d(PeriodCombo), e(FromEdit), f(ToEdit), g(LiveCheck);
        Mode[0]->setChecked(true);
        UnitCombo->setCurrentIndex(unit);
        PeriodCombo->setCurrentIndex(4);
        FromEdit->setDateTime(at.addSecs(-1800));
        ToEdit->setDateTime(at.addSecs(1800));
        FromEdit->setEnabled(true);
        ToEdit->setEnabled(true);
        LiveCheck->setChecked(false);
    }
    m_zoomed = false;
    reload();
}

void TrendWindow::saveCsv(const QString& path)
{
    if (m_csvWorker.out())
        return;
    m_csvProgress = std::make_shared<TrendModel::CsvProgress>();
    SaveCsv->setEnabled(false);
    CsvProgress->setRange(0, 0); // busy until the first slice says how many there are
    CsvProgress->setVisible(true);
    m_csvWatch.start();
    const QString period = DataLog::fromSeconds(m_model.from()).toString(Stamp) + QStringLiteral(" ～ ") +
                           DataLog::fromSeconds(m_model.to()).toString(Stamp);
    StatusText->setText(QStringLiteral("CSV を保存しています（%1）…").arg(period));
    m_csvWorker.run<QString>(
        this,
        [progress = m_csvProgress, dir = m_model.workDir(), units = m_model.units(), channels = m_channels,
         from = m_model.from(), to = m_model.to(), now = DataLog::toSeconds(m_clock.now()),
         path] { return TrendModel::WriteCsv(dir, units, channels, from, to, now, path, *progress); },
        [this, path, period](const QString& error) {
            m_csvWatch.stop();
            CsvProgress->setVisible(false);
            SaveCsv->setEnabled(true);
            StatusText->setText(error.isEmpty()
                                    ? QStringLiteral("CSV を保存しました（%1）：%2").arg(period, path)
                                    : QStringLiteral("CSV を保存できませんでした：%1（%2）").arg(path, error));
        });
}

QString TrendWindow::readOutAt(QChartView* view, QPointF pos) const
{
    const auto t = timeAt(view, pos);
    if (!t)
        return QString();
    QStringList parts{DataLog::fromSeconds(*t).toString(Stamp)};
    const double x = double(TrendModel::toMs(*t));
    const DataLog::Seconds span = std::max<DataLog::Seconds>(1, m_model.to() - m_model.from());
    // Farther than two buckets from a point is a gap in the log: nothing to read there.
    const double reach = 2000.0 * std::max<double>(1.0, double(span) / columns());
    const bool pins = view == PinChart;
    for (const TrendSeries& s : m_model.series()) {
        if (s.pin() != pins)
            continue;
        const auto v = valuesAt(s.points, x, reach);
        QString value;
        if (!v)
            value = QStringLiteral("－");
        else if (s.pin())
            value = s.valueText(v->second - 2.0 * s.lane);
        else
            value =
                v->first == v->second ? s.valueText(v->first) : s.valueText(v->first) + u'～' + s.valueText(v->second);
        parts << s.title + u' ' + value;
    }
    return parts.join(QStringLiteral("　"));
}

std::optional<DataLog::Seconds> TrendWindow::timeAt(QChartView* view, QPointF pos) const
{
    QChart* chart = view->chart();
    const QPointF at = chart->mapFromScene(view->mapToScene(pos.toPoint()));
    if (!chart->plotArea().contains(at))
        return std::nullopt;
    // The share of the plot's width, on the time axis: independent of any series.
    const double share = (at.x() - chart->plotArea().left()) / std::max(1.0, chart->plotArea().width());
    const DataLog::Seconds from = m_model.from(), to = m_model.to();
    return from + DataLog::Seconds(std::llround(share * double(to - from)));
}

bool TrendWindow::savePng(const QString& path)
{
    QPixmap picture(AnalogChart->width(), AnalogChart->height() + PinChart->height());
    picture.fill(Qt::white);
    QPainter painter(&picture);
    AnalogChart->render(&painter, QRectF(0, 0, AnalogChart->width(), AnalogChart->height()));
    PinChart->render(&painter, QRectF(0, AnalogChart->height(), PinChart->width(), PinChart->height()));
    painter.end();
    return picture.save(path, "PNG");
}

bool TrendWindow::handleKey(int key)
{
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(0.5);
        return true;
    case Qt::Key_Minus:
        zoom(2.0);
        return true;
    case Qt::Key_Left:
        pan(-0.25);
        return true;
    case Qt::Key_Right:
        pan(0.25);
        return true;
    case Qt::Key_Home:
        resetView();
        return true;
    default:
        return false;
    }
}

void TrendWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // As many ticks as the new size holds.
    QMetaObject::invokeMethod(this, &TrendWindow::draw, Qt::QueuedConnection);
}

void TrendWindow::keyPressEvent(QKeyEvent* event)
{
    if (!handleKey(event->key()))
        QWidget::keyPressEvent(event);
}

bool TrendWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The views scroll with the arrow keys of their own; the keys pan the time instead.
    if (watched == AnalogChart || watched == PinChart) {
        if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event)->key()))
            return true;
        return QWidget::eventFilter(watched, event);
    }
    auto* view = watched == PinChart->viewport() ? PinChart : AnalogChart;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->angleDelta().y() != 0)
            zoom(wheel->angleDelta().y() > 0 ? 0.8 : 1.25, timeAt(view, wheel->position()));
        return true;
    }
    case QEvent::MouseButtonPress:
        view->setFocus();
        m_dragging = true;
        m_dragFrom = static_cast<QMouseEvent*>(event)->position().toPoint();
        return true;
    case QEvent::MouseMove: {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (m_dragging) {
            const double width = std::max(1.0, view->chart()->plotArea().width());
            pan(-double(at.x() - m_dragFrom.x()) / width);
            m_dragFrom = at;
        }
        ReadOut->setText(readOutAt(view, at));
        return true;
    }
    case QEvent::Leave:
        ReadOut->clear();
        return false;
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
