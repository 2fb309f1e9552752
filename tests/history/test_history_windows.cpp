// The trend and alarm history windows offscreen, driven by their controls.

#include "history/AlarmHistory.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "history/TrendScale.h"
#include "history/TrendWindow.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace {

// Two units; unit 0 logs a day up to the station's clock, unit 1 only the last hour.
struct HistoryRig {
    Station st;
    HistoryRig()
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({UnitRow{"ポンプ"}, UnitRow{"タンク"}}));
        EXPECT_TRUE(st.comm.sys().LoadSysInf());
        const DataLog::Seconds now = DataLog::toSeconds(st.clock.now());
        log(0, now - 86400 + 1, now);
        log(1, now - 3600 + 1, now);
    }
    void log(int unit, DataLog::Seconds from, DataLog::Seconds to)
    {
        QByteArray text;
        for (DataLog::Seconds t = from; t <= to; ++t)
            text += line(t);
        QFile f(st.path(DataFiles::DataLogName(unit)));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(text);
    }
    static QByteArray line(DataLog::Seconds t)
    {
        const int v = int(t % 1000);
        return DataLog::fromSeconds(t).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")).toLatin1() + ", " +
               QByteArray::number(v) + ", 0, 0, 0, " + QByteArray::number((t / 60) % 2) +
               ", 0, 0, 0, 0, 0, 0, 0, 25\r\n";
    }
};

// The windows' pictures are kept under the build folder, to be looked at by eye.
void shot(QWidget& w, const QString& name)
{
    QDir().mkpath(QStringLiteral(TALVERON_HISTORY_SCREENS));
    EXPECT_TRUE(w.grab().save(QDir(QStringLiteral(TALVERON_HISTORY_SCREENS)).filePath(name + QStringLiteral(".png"))));
}

int pointsOf(QChartView* view)
{
    int n = 0;
    for (QAbstractSeries* s : view->chart()->series())
        n += int(static_cast<QLineSeries*>(s)->count());
    return n;
}

} // namespace

TEST(TrendWindow, ShowsAUnitsDayAndFollowsItsLogLive)
{
    HistoryRig rig;
    TrendWindow w(rig.st.comm.sys(), rig.st.comm.channels(), rig.st.dir.path(), rig.st.clock);
    w.show(); // at its own size: the picture shows what an operator first sees
    EXPECT_EQ(w.windowTitle(), QStringLiteral("トレンド"));
    EXPECT_EQ(control<QComboBox>(w, "PeriodCombo")->currentText(), QStringLiteral("24時間"));
    // RA0, RA1 and the temperature; RB0..RB5 (the unit's "non" channels are not drawn)
    QChartView* analog = control<QChartView>(w, "AnalogChart");
    QChartView* pins = control<QChartView>(w, "PinChart");
    EXPECT_EQ(analog->chart()->series().size(), 3);
    EXPECT_EQ(pins->chart()->series().size(), 6);
    // one time at one x in both charts
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_NEAR(analog->chart()->plotArea().left(), pins->chart()->plotArea().left(), 1.0);
    EXPECT_NEAR(analog->chart()->plotArea().right(), pins->chart()->plotArea().right(), 1.0);
    EXPECT_EQ(w.model().lines(), 86400);
    // at most two points a column for each series, whatever the period
    const int columns = analog->width();
    EXPECT_GT(pointsOf(analog), 0);
    EXPECT_LE(pointsOf(analog), 5 * 2 * columns);
    EXPECT_TRUE(checked(w, "LiveCheck"));
    shot(w, QStringLiteral("TrendWindow"));

    // two seconds later two lines more: the live step takes them and the range slides
    const DataLog::Seconds now = DataLog::toSeconds(rig.st.clock.now());
    rig.st.clock.advance(2);
    rig.log(0, now + 1, now + 2);
    w.liveStep();
    EXPECT_EQ(w.model().to(), now + 2);
    EXPECT_GE(w.model().lines(), 86400);

    // the hour: fewer lines; zoom in and out by the keys, and back with Home
    control<QComboBox>(w, "PeriodCombo")->setCurrentIndex(0);
    EXPECT_EQ(w.model().lines(), 3600);
    const auto span = w.model().to() - w.model().from();
    QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::NoModifier, "+");
    QApplication::sendEvent(&w, &plus);
    EXPECT_NEAR(double(w.model().to() - w.model().from()), span / 2.0, 2.0);
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    const auto before = w.model().from();
    QApplication::sendEvent(&w, &left);
    EXPECT_LT(w.model().from(), before);
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(&w, &home);
    EXPECT_EQ(w.model().to() - w.model().from(), span);
    w.close();
}

TEST(TrendWindow, ShowsTheChannelTablesTagsAndUnitsAndCopiesEngineeringValues)
{
    HistoryRig rig;
    TextFile::writeWhole(
        rig.st.path("ChannelInf.csv"),
        QStringLiteral("ユニット,チャンネル,タグ名,単位,生値下限,生値上限,工学値下限,工学値上限,小数桁,ON表示,"
                       "OFF表示\r\n000,RA0,水位,m,0,1000,0,10,2,,\r\n000,RB0,ポンプ1,,,,,,,運転,停止\r\n"));
    ASSERT_TRUE(rig.st.comm.channels().load());
    TrendWindow w(rig.st.comm.sys(), rig.st.comm.channels(), rig.st.dir.path(), rig.st.clock);
    w.resize(900, 600);
    w.show();
    control<QComboBox>(w, "PeriodCombo")->setCurrentIndex(0);
    EXPECT_EQ(w.model().series()[0].title, QStringLiteral("ポンプ 水位(m)"));
    QStringList axes;
    for (QAbstractAxis* a : control<QChartView>(w, "AnalogChart")->chart()->axes(Qt::Vertical))
        if (a->isVisible())
            axes << a->titleText();
    EXPECT_EQ(axes, (QStringList{"m", "RA", "温度(℃)"})) << "one axis per unit text";
    for (const QPointF& p : w.model().series()[0].points)
        EXPECT_TRUE(p.y() >= 0 && p.y() < 10) << p.y(); // raw 0..999 scaled
    click(w, "CopyCsv");
    const QStringList csv = QApplication::clipboard()->text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    EXPECT_EQ(csv[0], QStringLiteral("日時,No.,水位(m),RA1,RA2,RA3,ポンプ1,RB1,RB2,RB3,RB4,RB5,RB6,RB7,温度"));
    const DataLog::Seconds t = w.model().from();
    EXPECT_EQ(csv[1].section(u',', 2, 2), QString::number((t % 1000) / 100.0, 'f', 2));
    EXPECT_EQ(csv[1].section(u',', 6, 6), (t / 60) % 2 ? QStringLiteral("運転") : QStringLiteral("停止"));
    w.saveCsv(rig.st.path("trend.csv"));
    QDeadlineTimer saving(10000);
    while (w.savingCsv() && !saving.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(TextFile::readAll(rig.st.path("trend.csv")), QApplication::clipboard()->text());
    shot(w, QStringLiteral("TrendWindowEngineering"));
}

TEST(TrendWindow, ComparesChannelsOfUnitsAndCopiesAndSavesTheShownRange)
{
    HistoryRig rig;
    TrendWindow w(rig.st.comm.sys(), rig.st.comm.channels(), rig.st.dir.path(), rig.st.clock);
    w.resize(900, 600);
    w.show();
    click(w, "Mode_1");
    control<QComboBox>(w, "ChannelUnit_0")->setCurrentIndex(1); // ポンプ
    control<QComboBox>(w, "Channel_0")->setCurrentIndex(0);     // RA0
    control<QComboBox>(w, "ChannelUnit_1")->setCurrentIndex(2); // タンク
    control<QComboBox>(w, "Channel_1")->setCurrentIndex(4);     // RB0
    ASSERT_EQ(w.model().series().size(), 2u);
    EXPECT_EQ(w.model().series()[0].title, QStringLiteral("ポンプ RA0"));
    EXPECT_EQ(control<QChartView>(w, "AnalogChart")->chart()->series().size(), 1);
    EXPECT_EQ(control<QChartView>(w, "PinChart")->chart()->series().size(), 1);
    // a pin is a step line: no point between two levels but on a change
    for (const QPointF& p : w.model().series()[1].points)
        EXPECT_TRUE(p.y() == 0.0 || p.y() == 1.0) << p.y();

    control<QComboBox>(w, "PeriodCombo")->setCurrentIndex(0);
    click(w, "CopyCsv");
    const QStringList csv = QApplication::clipboard()->text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), 1 + 3600 + 3600);
    EXPECT_EQ(csv[0], QStringLiteral("日時,No.,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,温度"));
    EXPECT_TRUE(csv[1].startsWith(DataLog::fromSeconds(w.model().from()).toString("yyyy/MM/dd HH:mm:ss") + ",000,"))
        << csv[1].toStdString();
    EXPECT_TRUE(csv.last().contains(QStringLiteral(",001,")));
    // the file written on the worker holds what the copy holds, in the station's encoding
    w.saveCsv(rig.st.path("trend.csv"));
    QDeadlineTimer saving(10000);
    while (w.savingCsv() && !saving.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(TextFile::readAll(rig.st.path("trend.csv")), QApplication::clipboard()->text());

    const QString png = rig.st.path("trend.png");
    ASSERT_TRUE(w.savePng(png));
    QImage saved(png);
    EXPECT_EQ(saved.height(),
              control<QChartView>(w, "AnalogChart")->height() + control<QChartView>(w, "PinChart")->height());
    shot(w, QStringLiteral("TrendWindowChannels"));
    w.close();
}

TEST(AlarmHistory, ListsNewestFirstFiltersAndCountsTheDaysAlarms)
{
    HistoryRig rig;
    AlarmJournal& journal = rig.st.comm.journal();
    rig.st.clock.advance(-3 * 86400);
    journal.Record(JournalEvent::Raised, 1, QStringLiteral("タンク"),
                   QStringLiteral("Din:0:High")); // too old for the count
    rig.st.clock.advance(3 * 86400 - 3600);
    for (int i = 0; i < History::Frequent; ++i) {
        journal.Record(JournalEvent::Raised, 0, QStringLiteral("ポンプ"), QStringLiteral("Din:2:High"));
        rig.st.clock.advance(60);
        journal.Record(JournalEvent::Cleared, 0, QStringLiteral("ポンプ"), QStringLiteral("Din:2:High"));
    }
    journal.Record(JournalEvent::Raised, 1, QStringLiteral("タンク"), QStringLiteral("Din:0:High"));
    journal.Record(JournalEvent::DiskLow, -1, QString(), QStringLiteral("残り 0.5 GB"));

    AlarmHistory w(rig.st.comm.sys(), rig.st.comm.channels(), journal.path(), rig.st.clock);
    w.show();
    EXPECT_TRUE(w.loading()); // the window is back before the journal is read
    const auto settled = [&] {
        QDeadlineTimer deadline(10000);
        while (w.loading() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        return !w.loading();
    };
    ASSERT_TRUE(settled());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("アラーム履歴"));
    const QAbstractItemModel* events = control<QTableView>(w, "EventTable")->model();
    const auto cell = [&](int r, int c) { return events->index(r, c).data().toString(); };
    ASSERT_EQ(events->rowCount(), 2 * History::Frequent + 3); // 7 days: all of them
    EXPECT_EQ(cell(0, 3), QStringLiteral("ディスク残量不足"));
    EXPECT_EQ(cell(1, 1), QStringLiteral("001"));
    EXPECT_EQ(cell(events->rowCount() - 1, 2), QStringLiteral("タンク"));
    // the unit that alarms all day is first, and marked
    const QTableWidget* counts = control<QTableWidget>(w, "CountTable");
    ASSERT_EQ(counts->rowCount(), 2);
    EXPECT_EQ(counts->item(0, 0)->text(), QStringLiteral("ポンプ"));
    EXPECT_EQ(counts->item(0, 1)->text(), QString::number(History::Frequent));
    EXPECT_NE(counts->item(0, 0)->background(), counts->item(1, 0)->background());
    EXPECT_EQ(counts->item(1, 1)->text(), QStringLiteral("1"));
    shot(w, QStringLiteral("AlarmHistory"));

    control<QComboBox>(w, "UnitFilter")->setCurrentIndex(2);   // タンク
    control<QComboBox>(w, "PeriodFilter")->setCurrentIndex(0); // 24 hours, asked while the read is out
    ASSERT_TRUE(settled());
    EXPECT_EQ(events->rowCount(), 1);
    control<QComboBox>(w, "PeriodFilter")->setCurrentIndex(1);
    ASSERT_TRUE(settled());
    EXPECT_EQ(events->rowCount(), 2);
    w.close();
}

// The trend's grey periods: a stop, and a shown unit given up until it answers or a stop ends it.
TEST(TrendModel, QuietPeriodsComeFromStopsAndGivenUpUnitsShown)
{
    const QDateTime t0(QDate(2026, 12, 8), QTime(10, 0));
    const auto at = [&](int s, int unit, JournalEvent e) {
        return JournalEntry{t0.addSecs(s), unit, QString(), AlarmJournal::EventWord(e), QString()};
    };
    const std::vector<JournalEntry> journal = {at(0, -1, JournalEvent::Started),   at(10, 1, JournalEvent::GivenUp),
                                               at(20, 1, JournalEvent::Answering), at(30, 2, JournalEvent::GivenUp),
                                               at(40, 1, JournalEvent::GivenUp),   at(50, -1, JournalEvent::Stopped),
                                               at(60, -1, JournalEvent::Started),  at(70, 1, JournalEvent::GivenUp)};
    const DataLog::Seconds base = DataLog::toSeconds(t0);
    std::vector<std::pair<DataLog::Seconds, DataLog::Seconds>> got;
    for (const QuietPeriod& q : TrendModel::QuietPeriods(journal, {1}, base, base + 100))
        got.emplace_back(q.from - base, q.to == QuietPeriod::Open ? -1 : q.to - base);
    EXPECT_EQ(got, (std::vector<std::pair<DataLog::Seconds, DataLog::Seconds>>{{10, 20}, {40, 60}, {70, -1}}));
}

// Over its quota the copy keeps the newest whole seconds of every unit shown, and says which.
TEST(TrendModel, ACopyOverItsQuotaKeepsTheNewestSecondsOfAllUnits)
{
    HistoryRig rig;
    TrendModel model(rig.st.dir.path());
    const auto series = [](int unit) {
        TrendSeries s;
        s.unit = unit;
        return s;
    };
    model.setSeries({series(0), series(1)});
    const DataLog::Seconds now = DataLog::toSeconds(rig.st.clock.now());
    model.load(now - 7199, now, 600, now);
    const TrendModel::CsvCopy copy = model.csv(1000, rig.st.comm.channels());
    const QStringList lines = copy.text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    EXPECT_TRUE(copy.cut);
    EXPECT_EQ(lines.size() - 1, copy.lines);
    EXPECT_LE(copy.lines, 1000);
    EXPECT_GT(copy.lines, 900);
    EXPECT_EQ(copy.to, now);
    const auto stamp = [](DataLog::Seconds t) { return DataLog::fromSeconds(t).toString("yyyy/MM/dd HH:mm:ss"); };
    EXPECT_TRUE(lines[1].startsWith(stamp(copy.from) + ",000,")) << lines[1].toStdString();
    EXPECT_TRUE(lines.last().startsWith(stamp(now) + ",001,")) << lines.last().toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral(",000,")).size(), lines.filter(QStringLiteral(",001,")).size());
}

TEST(TrendScale, TicksOnRoundValuesAndTimesAndTheWheelKeepsThePointersTime)
{
    using namespace TrendScale;
    EXPECT_DOUBLE_EQ(ValueStep(1023, 8), 200);
    EXPECT_DOUBLE_EQ(ValueStep(0.3, 3), 0.1);
    EXPECT_DOUBLE_EQ(ValueStep(46, 10), 5);
    EXPECT_EQ(RoundRange(-3, 1021, 200), std::make_pair(-200.0, 1200.0));
    EXPECT_EQ(TimeStep(0, 3600, 7), 600);
    EXPECT_EQ(TimeStep(0, 86400, 8), 3 * 3600);
    EXPECT_EQ(TimeStep(0, 7 * 86400, 8), 86400);
    EXPECT_EQ(TimeStep(0, 90, 6), 15);
    const DataLog::Seconds at = DataLog::toSeconds(QDateTime(QDate(2026, 12, 8), QTime(10, 3, 17)));
    const auto ticks = TimeTicks(at, at + 3600, 900);
    ASSERT_EQ(ticks.size(), 4u);
    EXPECT_EQ(DataLog::fromSeconds(ticks[0]).time(), QTime(10, 15));
    EXPECT_EQ(DataLog::fromSeconds(TimeTicks(at, at + 3 * 86400, 86400)[0]).time(), QTime(0, 0));
    // the time under the pointer stays at its place on the axis
    EXPECT_EQ(ZoomAbout(0, 1000, 250, 0.5), std::make_pair(DataLog::Seconds(125), DataLog::Seconds(625)));
    EXPECT_EQ(ZoomAbout(0, 1000, 250, 2), std::make_pair(DataLog::Seconds(-250), DataLog::Seconds(1750)));
    EXPECT_EQ(ZoomAbout(0, 40, 20, 0.1), std::make_pair(DataLog::Seconds(5), DataLog::Seconds(35)));
}
