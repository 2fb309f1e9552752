// talveron: the monitoring station. Its files are in the current directory. It takes one option,
// --start: monitoring starts as soon as the window is up, as after "開始" (for autostart after a
// power cut); a refused start is said in the window, on standard error and in the journal.
// --report daily|monthly DATE --out DIR writes a report's CSV files and ends (ReportCommand.h).

#include "history/AlarmHistory.h"
#include "monitor/ArmEdit.h"
#include "platform/Clock.h"
#include "monitor/Dialog1.h"
#include "monitor/Dialog2.h"
#include "monitor/Dialog4.h"
#include "shared/InetEdit.h"
#include "shared/MailSetform.h"
#include "settings/ComEdit.h"
#include "settings/ComEdit2.h"
#include "platform/DialUpBackend.h"
#include "outside/FtpClient.h"
#include "outside/InternetTransfer.h"
#include "monitor/MontAll.h"
#include "shared/MontComm1.h"
#include "relay/MontMain.h"
#include "settings/LogEdit.h"
#include "settings/ChannelEdit.h"
#include "settings/MqttEdit.h"
#include "outside/PollEngine.h"
#include "platform/QtMessageBox.h"
#include "reports/ReportCommand.h"
#include "reports/ReportSchedule.h"
#include "reports/ReportWindow.h"
#include "platform/SmtpControl.h"
#include "shared/StationLife.h"
#include "settings/SysEdit.h"
#include "history/TrendWindow.h"
#include "outside/VARNIX.h"
#include "settings/WebEdit.h"
#include "web/WebView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    // Reports from the command line need no window, no display and no lock: the PDF is drawn
    // offscreen.
    if (argc > 1 && std::string_view(argv[1]) == "--report") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication gui(argc, argv);
        return RunReportCommand(QCoreApplication::arguments().mid(1));
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Talveron"));
    // The station speaks Japanese whatever the desktop's language: Qt's own buttons and file
    // dialogs too ("はい", "いいえ", "保存"), where Qt's translations are installed.
    QTranslator qtJapanese;
    if (qtJapanese.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtJapanese);
    const QStringList options = QApplication::arguments().mid(1);
    const bool start = options == QStringList{QStringLiteral("--start")};
    if (!options.isEmpty() && !start) {
        std::fputs(
            "usage: talveron [--start] | --report daily YYYY-MM-DD --out DIR | --report monthly YYYY-MM --out DIR\n",
            stderr);
        return 2;
    }
    QtMessageBox messages;
    SystemClock clock;
    NmcliDialUp dialUp; // outlives comm: a line still up is hung up when comm goes
    // The controls the alarm mail and the abnormality mark go out through, with the FTP
    // control's watchdog; they outlive comm, which uses them until it goes.
    SmtpControl smtp1;
    FtpClient ftp1;
    QTimer Timer3;
    MontComm1 comm(QDir::currentPath(), messages, clock);
    comm.setDialUpBackend(&dialUp);
    comm.alarms().setSmtp(&smtp1);
    comm.alarms().SetMainFtp(&ftp1, &Timer3);
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
    WindowOpener opener;
    MontAll window(comm, engine, opener);
    WebView web(comm);
    web.setRunning([&window] { return window.cycle().running(); });
    // A view that cannot start is said in the status bar as well as in a box: monitoring goes on.
    const auto startWeb = [&] {
        const Outcome outcome = web.start();
        window.showWebFault(web.fault());
        Notify(messages, outcome);
    };
    // Saved web settings take effect at once.
    const auto showWebSettings = [&](QWidget* over) {
        WebEdit edit(comm.workDir(), messages, over);
        edit.exec();
        if (edit.saved())
            startWeb();
    };
    // Saved MQTT settings take effect at once: the feed connects again with them.
    const auto showMqttSettings = [&](QWidget* over) {
        MqttEdit mqtt(comm.workDir(), messages, over);
        mqtt.exec();
        if (mqtt.saved())
            Notify(messages, comm.mqtt().start());
    };
    opener.add(StationWindow::SysEdit, [&](QWidget* parent, const OpenArgs& args) {
        SysEdit w(comm, parent);
        w.showMailSettings = [&](QWidget* over) {
            MailSetform mail(comm, over);
            mail.exec();
        };
        // Saved log settings take effect at once: the gate and the archive worker follow them.
        w.showLogSettings = [&](QWidget* over) {
            LogEdit logs(comm.workDir(), messages, over);
            logs.exec();
            if (logs.saved())
                Notify(messages, comm.logs().start());
        };
        // Saved channel words reach MQTT at once; the trend and the history read them when drawn.
        w.showChannelSettings = [&](QWidget* over) {
            ChannelEdit channels(comm, over);
            channels.exec();
        };
        w.SetTimeOutGroupEnabled(args.timeOutGroupEnabled);
        w.exec();
        // Units added or removed, renamed, or their channel words changed: Home Assistant follows.
        comm.mqtt().refreshDiscovery();
    });
    opener.add(StationWindow::ArmEdit, [&](QWidget* parent, const OpenArgs&) {
        ArmEdit w(comm, parent);
        w.exec();
    });
    opener.add(StationWindow::Dialog1, [&](QWidget* parent, const OpenArgs& args) {
        Dialog1 w(comm, engine, args.unit, parent);
        w.exec();
    });
    opener.add(StationWindow::Dialog2, [&](QWidget* parent, const OpenArgs& args) {
        Dialog2 w(comm, engine, args.unit, args.readOnShow, parent);
        w.exec();
    });
    opener.add(StationWindow::Dialog4, [&](QWidget* parent, const OpenArgs&) {
        Dialog4 w(comm, engine, parent);
        w.exec();
    });
    opener.add(StationWindow::ComEdit2, [&](QWidget* parent, const OpenArgs&) {
        ComEdit2 w(comm, parent);
        w.showInetSettings = [&](QWidget* over) {
            InetEdit inet(comm, over);
            inet.exec();
        };
        w.showMqttSettings = showMqttSettings;
        w.showWebSettings = showWebSettings;
        w.exec();
    });
    opener.add(StationWindow::ComEdit, [&](QWidget* parent, const OpenArgs&) {
        ComEdit w(comm, parent);
        w.showInetSettings = [&](QWidget* over) {
            InetEdit inet(comm, over);
            inet.exec();
        };
        w.showMqttSettings = showMqttSettings;
        w.showWebSettings = showWebSettings;
        w.exec();
    });
    opener.add(StationWindow::MontMain, [&](QWidget* parent, const OpenArgs&) {
        MontMain w(comm, engine, opener, parent);
        w.exec();
    });
    // The history windows are modeless: one of each per window they are opened from.
    QPointer<TrendWindow> trend;
    opener.add(StationWindow::Trend, [&](QWidget* parent, const OpenArgs&) {
        if (!trend || trend->parentWidget() != parent) {
            trend = new TrendWindow(comm.sys(), comm.channels(), comm.workDir(), clock, parent);
            trend->setAttribute(Qt::WA_DeleteOnClose);
        }
        trend->show();
        trend->raise();
        trend->activateWindow();
    });
    QPointer<ReportWindow> report;
    opener.add(StationWindow::Report, [&](QWidget* parent, const OpenArgs&) {
        if (!report || report->parentWidget() != parent) {
            report = new ReportWindow(comm.sys(), comm.workDir(), clock, messages, parent);
            report->setAttribute(Qt::WA_DeleteOnClose);
        }
        report->show();
        report->raise();
        report->activateWindow();
    });
    QPointer<AlarmHistory> history;
    opener.add(StationWindow::AlarmHistory, [&](QWidget* parent, const OpenArgs&) {
        if (!history || history->parentWidget() != parent) {
            history = new AlarmHistory(comm.sys(), comm.channels(), comm.journal().path(), clock, parent);
            history->setAttribute(Qt::WA_DeleteOnClose);
            // A row's unit and time in the trend opened from the same window.
            QObject::connect(history, &AlarmHistory::trendAsked, history,
                             [&, from = history.data()](int unit, const QDateTime& at) {
                                 opener.open(StationWindow::Trend, from->parentWidget());
                                 if (trend)
                                     trend->showAt(unit, at);
                             });
        }
        history->reload();
        history->show();
        history->raise();
        history->activateWindow();
    });
    messages.setParent(&window);
    if (!window.Load())
        return 3; // refused: another station runs in this folder, or its lock could not be taken
    StationLife life(comm);
    life.started();
    // Reports made by themselves (ReportInf.ini): a run missed while the station was down is made now.
    ReportSchedule reports(comm);
    reports.start();
    window.show();
    // Tag names and engineering units for display; a faulty file is said once and left unused.
    Notify(messages, comm.channels().load());
    // No MqttInf.ini, or no broker in it: nothing is published.
    Notify(messages, comm.mqtt().start());
    // No WebInf.ini, or Enabled=0: nothing is served.
    startWeb();
    if (start)
        QTimer::singleShot(0, &window, [&window] {
            const QString why = window.cycle().StartUnattended();
            if (!why.isEmpty())
                std::fprintf(stderr, "talveron: %s\n", why.toUtf8().constData());
        });
    const int rc = app.exec();
    life.ended();
    return rc;
}
