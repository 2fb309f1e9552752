// Polls off the UI thread: a tick never waits, stopping makes late answers harmless, and the
// window's behaviour around ticks stays as before.

#include "platform/DateText.h"
#include "FakeLink.h"
#include "RecordingView.h"
#include "Rig.h"
#include "UnitSimProcess.h"
#include "WindowDriver.h"

#include "platform/Clock.h"
#include "outside/MqttPublisher.h"
#include "platform/QtMessageBox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

int temperatureReads(FakeLink& link)
{
    const int n = int(link.log.count("GetAnalog(5,5)"));
    link.log.clear();
    return n;
}

QString readAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(f.readAll());
}

void pumpFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void pumpUntil(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void click(QWidget* target)
{
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

} // namespace

TEST(Polling, MinuteAndHourCyclesPollOncePerCycleOverTwoHours)
{
    for (const auto& [cycle, type, expected] : {std::tuple{2, "n", 60}, std::tuple{1, "h", 2}}) {
        Rig<FakeLink> rig;
        rig.files(numberedRows(1));
        TextFile::writeWhole(rig.st.path("sysinf001.csv"), sysInfText(numberedRows(1), cycle, type));
        rig.open();
        rig.start();
        int polls = 0;
        for (int s = 0; s < 2 * 3600; ++s) {
            rig.tick();
            polls += temperatureReads(rig.link1);
        }
        EXPECT_EQ(polls, expected) << cycle << type;
        const auto due = DateText::parseGeneral(rig.st.comm.units().CycleDue(0));
        ASSERT_TRUE(due);
        EXPECT_LE(rig.st.clock.now().secsTo(*due), 3600 + 59 * 60) << "due time runs away";
    }
}

TEST(Polling, ATickReturnsAtOnceAndLogsWhatEachUnitHolds)
{
    UnitSimProcess sim(2);
    ASSERT_TRUE(sim.running()) << sim.error();
    ASSERT_TRUE(sim.ok("fault 1 slow 60"));
    Rig<> rig;
    rig.files(simulatedRows(sim, 2));
    MontAll& w = rig.open();
    rig.start();
    rig.st.clock.advance(1);
    rig.cycle().MonitorTick();
    EXPECT_TRUE(rig.cycle().inFlight(1)); // the tick returned before the slow unit's answer
    EXPECT_EQ(control<QLabel>(w, "Panel3")->text(), QStringLiteral("ＩＯモニタ"));
    // the quick unit's line is written as its answer comes, the slow one's waits for its own
    EXPECT_EQ(rig.st.readBytes("DataFile001.csv").count('\n'), 1);
    rig.settle();
    EXPECT_EQ(rig.st.readBytes("DataFile001.csv").count('\n'), 2);
    EXPECT_EQ(w.rowLamp(1), Lamp::On);
    EXPECT_EQ(control<QLabel>(w, "Panel3")->text(), QString()); // the text before the tick is back
}

TEST(Polling, AUnitThatNeverAnswersCostsOnlyItselfAndIsNotAskedTwice)
{
    UnitSimProcess sim(3);
    ASSERT_TRUE(sim.running()) << sim.error();
    Rig<> rig;
    rig.linkTimings({.timeOutUnitMs = 300, .zeroTimeOutMs = 300, .byteGapMs = 300});
    rig.files(simulatedRows(sim, 3)); // TimeOut 1: 300 ms here
    MontAll& w = rig.open();
    rig.start();
    ASSERT_TRUE(sim.ok("fault 2 mute"));
    rig.st.clock.advance(1);
    rig.cycle().MonitorTick();
    // The others' answers come in while the mute unit's poll is still out.
    while ((rig.cycle().inFlight(0) || rig.cycle().inFlight(1)) && rig.cycle().inFlight(2))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(w.rowLamp(0), Lamp::On);
    EXPECT_EQ(w.rowLamp(1), Lamp::On);
    ASSERT_TRUE(rig.cycle().inFlight(2));
    rig.st.clock.advance(1);
    rig.cycle().MonitorTick(); // due again while its poll is still out
    rig.settle();
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 2), 0); // one failure, not two
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 0), -1);
    EXPECT_EQ(rig.st.readBytes("DataFile000.csv").count('\n'), 3);
}

TEST(Polling, AnswersThatArriveAfterAStopOrAPauseChangeNothing)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    ASSERT_TRUE(sim.ok("ain 0 0 321"));
    ASSERT_TRUE(sim.ok("fault 0 slow 40")); // two requests: 80 ms
    Rig<> rig;
    rig.files(simulatedRows(sim, 1));
    MontAll& w = rig.open();

    rig.start(); // its own poll reads 321
    ASSERT_TRUE(sim.ok("ain 0 0 999"));
    rig.st.clock.advance(1);
    rig.cycle().MonitorTick();
    ASSERT_TRUE(rig.cycle().inFlight(0));
    rig.start(); // "停止" while the poll is out
    rig.drain();
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 0);
    EXPECT_EQ(w.rowLamp(0), Lamp::Off);
    EXPECT_EQ(rig.cycle().exchangesOut(), 0);

    ASSERT_TRUE(sim.ok("ain 0 0 321"));
    rig.start();
    ASSERT_TRUE(sim.ok("ain 0 0 999"));
    rig.st.clock.advance(1);
    rig.cycle().MonitorTick();
    ASSERT_TRUE(rig.cycle().inFlight(0));
    const auto paused = rig.cycle().PauseForDialog(); // a per-unit dialog opens
    rig.drain();
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 321); // the late answer did not land
    rig.st.clock.advance(1);
    rig.cycle().ResumeAfterDialog(paused); // runs a tick at once
    rig.settle();
    EXPECT_EQ(rig.st.comm.units().unitItem(0, 0), 999);
    EXPECT_EQ(w.rowLamp(0), Lamp::On);
}

TEST(Polling, PanelThreeReadsRetryWhileAPassRuns)
{
    UnitSimProcess sim(1);
    ASSERT_TRUE(sim.running()) << sim.error();
    ASSERT_TRUE(sim.ok("fault 0 slow 40"));
    Rig<> rig;
    rig.files(simulatedRows(sim, 1));
    MontAll& w = rig.open();
    rig.start();
    const QString before = control<QLabel>(w, "Panel3")->text();
    rig.st.comm.units().unitItem(ItemFailureCount, 0) = 0;
    rig.cycle().RetryPass();
    EXPECT_EQ(control<QLabel>(w, "Panel3")->text(), QStringLiteral("リトライ"));
    rig.cycle().RetryPass(); // a second pass while one runs starts nothing
    EXPECT_EQ(rig.cycle().exchangesOut(), 1);
    rig.settle();
    EXPECT_EQ(control<QLabel>(w, "Panel3")->text(), before);
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemFailureCount, 0), -1);
}

TEST(Polling, RowsWithoutAnAddressAreNeverPolledLoggedOrMailed)
{
    Rig<FakeLink> rig;
    auto rows = numberedRows(3);
    rows[1].ip = QString();
    rig.files(rows, 1, {}, {}, 1);
    rig.open();
    rig.link1.down = true;
    rig.start();
    for (int i = 0; i < 6; ++i) {
        rig.tick();
        rig.retry();
    }
    EXPECT_FALSE(QFile::exists(rig.st.path("DataFile001.csv")));
    EXPECT_FALSE(QFile::exists(rig.st.path("DataFile002.csv"))); // it never answered: no line of zeros
    EXPECT_FALSE(rig.link1.log.contains("IP="));
    EXPECT_EQ(rig.alarmTexts(), QStringList({"u2", "u0"})); // in the order the retries gave them up
}

TEST(Polling, RedrawShowsGivenUpUnitsAndPagingWhileRunningRunsATick)
{
    Rig<FakeLink> rig;
    rig.files(numberedRows(31), 1, {}, {}, 1);
    MontAll& w = rig.open();
    rig.start();
    rig.st.comm.units().unitItem(ItemFailureCount, 3) = 2; // beyond ReloadSize 1: given up
    rig.button("Command1_1")->click();
    rig.settle();
    rig.st.clock.advance(1);
    rig.link1.log.clear();
    rig.button("Command1_0")->click(); // back to the first page: a redraw, then a tick
    rig.settle();
    EXPECT_EQ(w.rowLamp(3), Lamp::GivenUp);
    EXPECT_EQ(w.rowTone(3), RowTone::Alert);
    EXPECT_EQ(w.rowLamp(4), Lamp::On);
    EXPECT_EQ(temperatureReads(rig.link1), 30); // every healthy unit, off the page too
}

TEST(Polling, ModalWindowsReloadOnReturnAndClearTheAlarmFlags)
{
    Rig<FakeLink> rig;
    auto rows = numberedRows(1);
    rows[0].arm = "Din: 2:High";
    rig.files(rows);
    int16_t flagInDialog = -1;
    bool beepingInDialog = true;
    rig.opener.add(StationWindow::Dialog1, [&](QWidget*, const OpenArgs&) {
        flagInDialog = rig.st.comm.units().unitItem(ItemAlarmFlag, 0);
        beepingInDialog = rig.cycle().BeepTimer.isActive();
    });
    rig.opener.add(StationWindow::SysEdit, [&](QWidget*, const OpenArgs&) {
        flagInDialog = rig.st.comm.units().unitItem(ItemAlarmFlag, 0);
        auto renamed = rows;
        renamed[0].name = QStringLiteral("改名");
        TextFile::writeWhole(rig.st.path("sysinf001.csv"), sysInfText(renamed));
    });
    MontAll& w = rig.open();
    rig.link1.pins = {{2, 1}};
    rig.start();
    rig.tick();
    ASSERT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 1);
    click(control<QLabel>(w, "Picture1_0"));
    EXPECT_EQ(flagInDialog, 0);
    EXPECT_FALSE(beepingInDialog);
    EXPECT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 0);
    rig.tick(); // the next poll raises it again
    ASSERT_EQ(rig.st.comm.units().unitItem(ItemAlarmFlag, 0), 1);

    flagInDialog = -1;
    rig.button("editcmd")->click(); // Yes to the stop question
    EXPECT_EQ(flagInDialog, 0);
    EXPECT_EQ(rig.name(0), QStringLiteral("改名")); // the activation after it reloaded the file
}

TEST(Polling, TheMonitoringRunsWithoutAWindow)
{
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(numberedRows(2)));
    TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(1, {"a", "b"}));
    FakeLink link;
    std::mutex mutex;
    FakeTransfer transfer;
    auto engine = makeEngine(link, transfer, mutex);
    RecordingView view;
    MonitorCycle cycle(st.comm, view, *engine);
    cycle.Activate();
    EXPECT_EQ(cycle.screen().panels[1], QStringLiteral("  通信モード ： ＬＡＮ"));
    EXPECT_EQ(cycle.screen().rows[1].name, QStringLiteral("u1"));
    auto settle = [&cycle] {
        QElapsedTimer t;
        t.start();
        while (cycle.exchangesOut() > 0 && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    cycle.StartStop();
    EXPECT_EQ(cycle.screen().startCaption, QStringLiteral("停止"));
    settle(); // the start's own poll reads the zeros, before the value changes
    const int changes = view.changes;
    {
        std::lock_guard lock(mutex);
        link.analog = {{0, 77}};
    }
    st.clock.advance(1);
    cycle.MonitorTick();
    settle();
    EXPECT_EQ(cycle.screen().rows[0].lamp, Lamp::On);
    EXPECT_EQ(cycle.screen().rows[1].lamp, Lamp::On);
    EXPECT_EQ(st.comm.units().unitItem(0, 1), 77);
    EXPECT_EQ(cycle.screen().panels[2], QString());
    EXPECT_GT(view.changes, changes); // the lamps were drawn
    cycle.Shutdown();
}

namespace {

// Station time running kSpeed times as fast as real time, so a run of seconds takes a fraction.
class FastClock : public Clock {
public:
    static constexpr int kSpeed = 5;
    QDateTime now() const override { return m_start.addMSecs(m_elapsed.elapsed() * kSpeed); }
    qint64 elapsedMs() const override { return m_elapsed.elapsed() * kSpeed; }

private:
    QDateTime m_start = QDateTime::currentDateTime();
    QElapsedTimer m_elapsed = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

} // namespace

// A new station with no address book: unit 0 alarms, the "not found" box opens and nobody is
// there to press OK. Monitoring goes on under it, and every unit logs its own reading every
// second. The box is the real one, as the operator would see it; the station's seconds run
// five times as fast as real ones, and so does its tick.
TEST(Polling, ABoxLeftOpenNeitherStopsNorFalsifiesTheDataLog)
{
    constexpr int units = 100;
    UnitSimProcess sim(units);
    ASSERT_TRUE(sim.running()) << sim.error();
    for (int i = 0; i < units; ++i)
        ASSERT_TRUE(sim.ok("ain " + std::to_string(i) + " 0 " + std::to_string(100 + i)));
    ASSERT_TRUE(sim.ok("din 0 0 1")); // unit 0's alarm holds from the first poll
    QTemporaryDir dir;
    QtMessageBox messages;
    FastClock clock;
    MontComm1 comm(dir.path(), messages, clock);
    auto rows = simulatedRows(sim, units);
    rows[0].arm = QStringLiteral("Din: 0:High");
    TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(rows));
    QStringList names;
    for (int i = 0; i < units; ++i)
        names << QStringLiteral("u%1").arg(i);
    TextFile::writeWhole(comm.path("InetInf.ini"), inetInfText(1, names));
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); });
    WindowOpener opener;
    FakeSmtp smtp;
    MontAll window(comm, engine, opener);
    ASSERT_TRUE(window.Load());
    window.show();
    comm.alarms().setSmtp(&smtp);
    window.findChild<QPushButton*>(QStringLiteral("Command2_0"))->click();
    window.cycle().Timer1.setInterval(1000 / FastClock::kSpeed);
    const QDateTime started = clock.now();
    // Nobody answers within the run. Should a box hold the work inside a nested loop, the
    // operator comes back after 15 s and lets it go, so the test still ends and shows the damage.
    QObject operatorBack; // ends with the test: no later test sees its timer
    QTimer::singleShot(15000, &operatorBack, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                box->accept();
    });
    pumpFor(5000 / FastClock::kSpeed);
    const QDateTime stopped = clock.now();
    window.cycle().Shutdown();

    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes += box->text().contains(QStringLiteral("mail.xls"));
    EXPECT_EQ(boxes, 1);                                   // open all along, and only once
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // "トレンド" and "アラーム履歴" still take clicks
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            box->accept(); // the operator answers it
    pumpFor(100);
    for (int i = 0; i < units; ++i) {
        const QStringList lines =
            readAll(comm.path(DataFiles::DataLogName(i))).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 4) << "unit " << i;
        QDateTime previous;
        for (const QString& line : lines) {
            const QStringList f = line.split(u',');
            EXPECT_EQ(f.value(1).trimmed().toInt(), 100 + i) << "unit " << i << ": " << line.toStdString();
            const QDateTime at = QDateTime::fromString(f.value(0), QStringLiteral("yyyy/MM/dd HH:mm:ss"));
            // One line a second; a tick late under a loaded test machine may skip one.
            if (previous.isValid()) {
                EXPECT_TRUE(previous.secsTo(at) == 1 || previous.secsTo(at) == 2)
                    << "unit " << i << ": " << line.toStdString();
            }
            previous = at;
        }
        EXPECT_LE(started.secsTo(previous), started.secsTo(stopped));
    }
}

// The night's alarms are on record next morning: raise, acknowledge, clear, given up, answering
// again and a mail that did not go out, each once, in order, from the main window.
TEST(Polling, EveryAlarmEventOfTheMainWindowIsJournalled)
{
    Rig<FakeLink> rig;
    auto rows = numberedRows(1);
    rows[0].arm = "Din:2:High";
    rig.files(rows, 1, {}, {}, 1); // given up after one retry
    rig.open();
    rig.smtp.failAt = 0;
    rig.link1.pins = {{2, 1}};
    rig.start();
    rig.mails();
    rig.smtp.failAt = -1;
    rig.button("BeepReset")->click();
    rig.link1.pins = {{2, 0}};
    rig.tick();
    rig.link1.down = true;
    for (int i = 0; i < 3; ++i) {
        rig.tick();
        rig.retry();
    }
    rig.link1.down = false;
    rig.button("Command2_0")->click(); // a stop ends the episode; after the start the unit answers
    rig.start();
    rig.mails();

    QStringList events;
    for (const JournalEntry& e : AlarmJournal::Read(rig.st.comm.journal().path()))
        events << QStringLiteral("%1 %2 %3 %4").arg(e.unit).arg(e.name, e.event, e.condition);
    EXPECT_EQ(events, (QStringList{
                          "-1  監視開始 ",
                          "0 u0 発生 Din:2:High",
                          "0 u0 メール送信失敗 Din:2:High",
                          "0 u0 確認 Din:2:High",
                          "0 u0 復帰 Din:2:High",
                          "0 u0 通信断 Din:2:High",
                          "-1  監視停止 ",
                          "-1  監視開始 ",
                      }))
        << events.join(u'\n').toStdString();
}

namespace {

class RecordingPublisher : public MqttPublisher {
public:
    explicit RecordingPublisher(std::vector<std::pair<QString, QByteArray>>& out) : m_out(out) {}
    void publish(const QString& topic, const QByteArray& body, int, bool) override { m_out.emplace_back(topic, body); }

private:
    std::vector<std::pair<QString, QByteArray>>& m_out;
};

} // namespace

// Two units answer in about two station seconds, unit 0's alarm stands, monitoring is started,
// stopped, started and stopped: every log line holds a reading its unit sent, one a second, and
// the journal and the broker tell when monitoring stopped. A dialog opened on a unit whose poll
// is out gets the unit's lane at once.
TEST(Polling, EveryLineOfTheRecordIsTrueWithSlowUnitsAStopAndADialog)
{
    constexpr int units = 3;
    UnitSimProcess sim(units);
    ASSERT_TRUE(sim.running()) << sim.error();
    for (int i = 0; i < units; ++i)
        ASSERT_TRUE(sim.ok("ain " + std::to_string(i) + " 0 " + std::to_string(100 + i)));
    ASSERT_TRUE(sim.ok("din 0 0 1") && sim.ok("fault 1 slow 100") && sim.ok("fault 2 slow 100"));
    QTemporaryDir dir;
    ScriptedMessageBox messages;
    FastClock clock;
    MontComm1 comm(dir.path(), messages, clock);
    std::vector<std::pair<QString, QByteArray>> mqtt;
    comm.mqtt().setPublisher(std::make_unique<RecordingPublisher>(mqtt), QStringLiteral("t"));
    auto rows = simulatedRows(sim, units);
    rows[0].arm = QStringLiteral("Din: 0:High");
    TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(rows, 1, "s", 5));
    TextFile::writeWhole(comm.path("InetInf.ini"), inetInfText(1, {"u0", "u1", "u2"}));
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); });
    WindowOpener opener;
    MontAll window(comm, engine, opener);
    ASSERT_TRUE(window.Load());
    window.show();
    MonitorCycle& cycle = window.cycle();
    for (int run = 0; run < 2; ++run) {
        window.findChild<QPushButton*>(QStringLiteral("Command2_0"))->click();
        cycle.Timer1.setInterval(1000 / FastClock::kSpeed);
        pumpFor(800);
        if (run == 0) { // the dialog's exchange starts at once, not after the slow poll
            pumpUntil([&] { return cycle.inFlight(1); });
            const auto paused = cycle.PauseForDialog(1);
            QElapsedTimer waited;
            waited.start();
            qint64 ranAfter = -1;
            engine.submit<int>(
                SysInf::UnitKey(comm.sys().DeviceTable()[1]), &window, [&](PollEngine::Tools&) { return 0; },
                [&](int) { ranAfter = waited.elapsed(); });
            pumpUntil([&] { return ranAfter >= 0; });
            EXPECT_TRUE(ranAfter >= 0 && ranAfter < 200) << ranAfter;
            cycle.ResumeAfterDialog(paused);
            pumpFor(600);
        }
        window.findChild<QPushButton*>(QStringLiteral("Command2_0"))->click();
    }
    window.cycle().Shutdown();

    for (int i = 0; i < units; ++i) {
        const QStringList lines =
            readAll(comm.path(DataFiles::DataLogName(i))).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 3) << "unit " << i;
        QDateTime previous;
        int gaps = 0;
        for (const QString& line : lines) {
            EXPECT_EQ(line.split(u',').value(1).trimmed().toInt(), 100 + i)
                << "unit " << i << ": " << line.toStdString();
            const QDateTime at = QDateTime::fromString(line.left(19), QStringLiteral("yyyy/MM/dd HH:mm:ss"));
            if (previous.isValid()) {
                EXPECT_GE(previous.secsTo(at), 1) << "unit " << i << ": " << line.toStdString();
                gaps += previous.secsTo(at) != 1;
            }
            previous = at;
        }
        EXPECT_LE(gaps, 3) << "unit " << i; // the dialog's pause and the stop, nothing else
    }
    QStringList events;
    for (const JournalEntry& e : AlarmJournal::Read(comm.journal().path()))
        if (e.event != AlarmJournal::EventWord(JournalEvent::MailFailed))
            events << QString::number(e.unit) + u' ' + e.event;
    // The dialog's pause clears the alarm, which is raised again after it, as it always was.
    EXPECT_EQ(events,
              QStringList({"-1 監視開始", "0 発生", "0 発生", "-1 監視停止", "-1 監視開始", "0 発生", "-1 監視停止"}))
        << events.join(u'\n').toStdString();
    QStringList alarms;
    std::map<QString, QByteArray> retained;
    for (const auto& [topic, body] : mqtt) {
        if (topic == QStringLiteral("t/alarms"))
            alarms << QString::fromUtf8(body);
        retained[topic] = body;
    }
    ASSERT_GE(alarms.size(), 2);
    const QJsonObject last = QJsonDocument::fromJson(alarms.last().toUtf8()).object();
    EXPECT_EQ(last, QJsonObject({{"unit", 0},
                                 {"name", last["name"]},
                                 {"time", last["time"]},
                                 {"event", "cleared"},
                                 {"condition", "Din: 0:High"},
                                 {"reason", "stopped"}}))
        << alarms.last().toStdString();
    for (int i = 0; i < units; ++i)
        EXPECT_TRUE(retained[MqttFeed::unitTopic("t", i)].contains("\"lamp\":\"stopped\"")) << i;
}
