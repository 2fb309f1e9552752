// The trend window: its controls, the two charts and the live timer.

#include "TrendWindow.h"

#include "Clock.h"
#include "FormParts.h"
#include "SysInf.h"

#include <QApplication>
#include <QAreaSeries>
#include <QLegendMarker>
#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineSeries>
#include <QRadioButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int CsvLines = 200000;
const std::array<DataLog::Seconds, 4> Periods = {3600, 8 * 3600, 86400, 7 * 86400};

QComboBox* combo(QWidget* parent, const QString& name, const QString& label)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setAccessibleName(label);
    return c;
}

QChart* newChart(QChartView*& view, QWidget* parent, const QString& name, QDateTimeAxis*& time, QValueAxis*& value)
{
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setMargins(QMargins(4, 4, 4, 4));
    time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("MM/dd HH:mm"));
    time->setTickCount(7);
    value = new QValueAxis;
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(value, Qt::AlignLeft);
    view = new QChartView(chart, parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing, false);
    view->setMinimumSize(640, 200);
    return chart;
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

QLineSeries* addLine(QChart* chart, QDateTimeAxis* time, QValueAxis* value, const QString& name)
{
    auto* line = new QLineSeries;
    line->setName(name);
    chart->addSeries(line);
    line->attachAxis(time);
    line->attachAxis(value);
    return line;
}

void hideFromLegend(QChart* chart, QAbstractSeries* series)
{
    for (QLegendMarker* m : chart->legend()->markers(series))
        m->setVisible(false);
}

// A grey band over x0..x1 from y0 to y1: the log's lines there are not readings.
QAbstractSeries* addShade(QChart* chart, QDateTimeAxis* time, QValueAxis* value, double x0, double x1, double y0,
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

} // namespace

TrendWindow::TrendWindow(const SysInf& sys, QString workDir, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_sys(sys)
    , m_clock(clock)
    , m_model(std::move(workDir))
{
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(QStringLiteral("トレンド"));
    buildControls();
    m_live.setInterval(LiveMs);
    connect(&m_live, &QTimer::timeout, this, &TrendWindow::liveStep);
    m_reread.setSingleShot(true);
    m_reread.setInterval(150);
    connect(&m_reread, &QTimer::timeout, this, [this] {
        m_model.load(m_model.from(), m_model.to(), columns(), DataLog::toSeconds(m_clock.now()));
        draw();
    });
    reload();
}

void TrendWindow::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* choose = new QHBoxLayout;
    Mode[0] = new QRadioButton(QStringLiteral("ユニット"), this);
    Mode[1] = new QRadioButton(QStringLiteral("チャンネル"), this);
    for (int i = 0; i < 2; ++i)
        Mode[i]->setObjectName(QStringLiteral("Mode_%1").arg(i));
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
    LiveCheck->setChecked(true);
    period->addWidget(new QLabel(QStringLiteral("期間"), this));
    period->addWidget(PeriodCombo);
    period->addWidget(FromEdit);
    period->addWidget(new QLabel(QStringLiteral("～"), this));
    period->addWidget(ToEdit);
    period->addWidget(LiveCheck);
    period->addStretch(1);
    top->addLayout(period);

    m_analog = newChart(AnalogChart, this, QStringLiteral("AnalogChart"), m_analogTime, m_analogValue);
    m_pins = newChart(PinChart, this, QStringLiteral("PinChart"), m_pinTime, m_pinValue);
    m_pinValue->setRange(-0.5, 16);
    m_pinValue->setLabelsVisible(false);
    m_pinValue->setGridLineVisible(false);
    top->addWidget(AnalogChart, 3);
    top->addWidget(PinChart, 2);
    for (QChartView* v : {AnalogChart, PinChart})
        v->viewport()->installEventFilter(this);

    StatusText = new QLabel(this);
    StatusText->setObjectName(QStringLiteral("StatusText"));
    SavePng = FormButton(this, QStringLiteral("SavePng"), QStringLiteral("PNG保存"));
    CopyCsv = FormButton(this, QStringLiteral("CopyCsv"), QStringLiteral("CSVコピー"));
    CloseCmd = FormButton(this, QStringLiteral("CloseCmd"), QStringLiteral("閉じる"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(StatusText, 1);
    bottom->addLayout(FormButtonRow({}, {SavePng, CopyCsv, CloseCmd}));
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
        bool truncated = false;
        const QString text = m_model.csv(CsvLines, &truncated);
        QApplication::clipboard()->setText(text);
        StatusText->setText(truncated ? QStringLiteral("CSV をコピーしました（最初の %1 行のみ）").arg(CsvLines)
                                      : QStringLiteral("CSV をコピーしました（%1 行）").arg(text.count(u'\n') - 1));
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
        TrendSeries s;
        s.unit = unit;
        s.channel = channel;
        s.title = m_sys.cell(unit, ColName) + u' ' + TrendModel::ChannelName(channel);
        out.push_back(s);
    };
    if (Mode[0]->isChecked()) {
        for (int c = 0; c < DataLog::Channels; ++c)
            add(UnitCombo->currentIndex(), c);
    } else {
        for (int i = 0; i < 4; ++i)
            add(ChannelUnit[i]->currentIndex() - 1, Channel[i]->currentIndex());
    }
    return out;
}

void TrendWindow::reload()
{
    m_model.setSeries(chosenSeries());
    for (QChart* chart : {m_analog, m_pins})
        chart->removeAllSeries();
    m_lines.clear();
    m_shades.clear();
    for (const TrendSeries& s : m_model.series())
        m_lines.push_back({s.pin() ? addLine(m_pins, m_pinTime, m_pinValue, s.title)
                                   : addLine(m_analog, m_analogTime, m_analogValue, s.title)});
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

void TrendWindow::draw()
{
    double low = 0, high = 1;
    bool any = false;
    for (size_t i = 0; i < m_model.series().size() && i < m_lines.size(); ++i) {
        const TrendSeries& s = m_model.series()[i];
        QChart* chart = s.pin() ? m_pins : m_analog;
        auto& lines = m_lines[i];
        // One line from each gap to the next, in the colour of the first.
        const int pieces = int(s.breaks.size()) + 1;
        while (int(lines.size()) < pieces) {
            QLineSeries* more = s.pin() ? addLine(m_pins, m_pinTime, m_pinValue, s.title)
                                        : addLine(m_analog, m_analogTime, m_analogValue, s.title);
            more->setColor(lines.front()->color());
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
            for (const QPointF& pt : s.points) {
                low = any ? std::min(low, pt.y()) : pt.y();
                high = any ? std::max(high, pt.y()) : pt.y();
                any = true;
            }
        }
    }
    const double margin = std::max(1.0, (high - low) * 0.05);
    if (m_analogValue->min() != low - margin || m_analogValue->max() != high + margin)
        m_analogValue->setRange(low - margin, high + margin);
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(TrendModel::toMs(m_model.from()));
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(TrendModel::toMs(m_model.to()));
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
        m_shades.push_back(addShade(m_analog, m_analogTime, m_analogValue, x0, x1, low - margin, high + margin, named));
        m_shades.push_back(addShade(m_pins, m_pinTime, m_pinValue, x0, x1, -0.5, 16, named));
    }
    m_analogTime->setRange(from, to);
    m_pinTime->setRange(from, to);
    StatusText->setText(QStringLiteral("%1 ～ %2　%3 行")
                            .arg(from.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                                 to.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")))
                            .arg(m_model.lines()) +
                        (m_model.skipped() ? QStringLiteral("（読めない行 %1）").arg(m_model.skipped()) : QString()));
}

void TrendWindow::showRange(DataLog::Seconds from, DataLog::Seconds to)
{
    m_zoomed = true;
    m_live.stop();
    if (to <= from)
        to = from + 1;
    // The axes follow at once; the log is read again for the new range once the wheel stops.
    const QDateTime f = QDateTime::fromMSecsSinceEpoch(TrendModel::toMs(from));
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(TrendModel::toMs(to));
    m_analogTime->setRange(f, t);
    m_pinTime->setRange(f, t);
    m_model.setRange(from, to); // the points come with the reread
    m_reread.start();
}

void TrendWindow::zoom(double factor)
{
    const double mid = (m_model.from() + m_model.to()) / 2.0;
    const double half = std::max(30.0, (m_model.to() - m_model.from()) * factor / 2.0);
    showRange(DataLog::Seconds(std::llround(mid - half)), DataLog::Seconds(std::llround(mid + half)));
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

void TrendWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(0.5);
        return;
    case Qt::Key_Minus:
        zoom(2.0);
        return;
    case Qt::Key_Left:
        pan(-0.25);
        return;
    case Qt::Key_Right:
        pan(0.25);
        return;
    case Qt::Key_Home:
        resetView();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool TrendWindow::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Wheel:
        zoom(static_cast<QWheelEvent*>(event)->angleDelta().y() > 0 ? 0.8 : 1.25);
        return true;
    case QEvent::MouseButtonPress:
        m_dragging = true;
        m_dragFrom = static_cast<QMouseEvent*>(event)->position().toPoint();
        return true;
    case QEvent::MouseMove:
        if (m_dragging) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            const int width = std::max(1, static_cast<QWidget*>(watched)->width());
            pan(-double(at.x() - m_dragFrom.x()) / width);
            m_dragFrom = at;
        }
        return true;
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
