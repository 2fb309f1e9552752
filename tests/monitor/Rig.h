#pragma once
// A main window on its own working directory, with the links and transfers it is given.

#include "FakeLink.h"
#include "FakeSmtp.h"
#include "FakeTransfer.h"
#include "Forwarding.h"
#include "outside/FtpClient.h"
#include "monitor/MontAll.h"
#include "outside/PollEngine.h"
#include "PyServer.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "outside/VARNIX.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <mutex>
#include <type_traits>

// A scripted link serves every unit on one lane, so its log keeps each poll's calls together;
// real links get a lane and a connection per unit, as in the program.
template <class Link>
std::unique_ptr<PollEngine> makeEngine(Link& link, InternetTransfer& transfer, std::mutex& mutex,
                                       const VARNIX::Timings& timings = {})
{
    auto transfers = [&transfer, &mutex] { return std::make_unique<ForwardingTransfer>(transfer, mutex); };
    if constexpr (std::is_same_v<Link, VARNIX>)
        return std::make_unique<PollEngine>(
            [timings] { return std::make_unique<VARNIX>(SteadyClock::instance(), timings); }, transfers);
    else
        return std::make_unique<PollEngine>([&link, &mutex] { return std::make_unique<ForwardingLink>(link, mutex); },
                                            transfers, 1);
}

template <class Link = VARNIX, class Transfer = FakeTransfer> struct Rig {
    Station st;
    Link link1;
    Transfer transfer1;
    std::mutex fakeMutex;
    std::unique_ptr<PollEngine> engine = makeEngine(link1, transfer1, fakeMutex);
    WindowOpener opener;
    FakeSmtp smtp; // stands in for the program's smtp1
    FtpClient ftp1;
    QTimer Timer3;
    std::unique_ptr<MontAll> window;

    void files(const QList<UnitRow>& rows, int mode2 = 1, const QStringList& names = {}, const QString& url = {},
               int reloadSize = 3, const QString& camera = {})
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows, 1, "s", 1, "s", 1, reloadSize));
        QStringList n = names;
        while (n.size() < rows.size())
            n << QStringLiteral("u%1").arg(n.size());
        TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(mode2, n, url, camera));
        CopyOperatorBook(st.path("mail.xls"));
    }
    // Real links whose waits last the given times (before open()).
    void linkTimings(const VARNIX::Timings& timings) { engine = makeEngine(link1, transfer1, fakeMutex, timings); }
    MontAll& open()
    {
        window = std::make_unique<MontAll>(st.comm, *engine, opener);
        if (window->Load())
            window->show();
        st.comm.alarms().setSmtp(&smtp);
        st.comm.alarms().SetMainFtp(&ftp1, &Timer3);
        return *window;
    }
    MonitorCycle& cycle() { return window->cycle(); }
    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }
    QString name(int row) { return window->findChild<QLineEdit*>(QStringLiteral("DevName_%1").arg(row))->text(); }
    // Start (or stop) by the button; while running, the timers stay on but the test runs the
    // ticks itself, so real time passing never adds a tick or a retry pass.
    // The start's own poll of every unit is answered before this returns, and a scripted
    // link forgets it, so tests count the polls of the cycle grid.
    void start()
    {
        button("Command2_0")->click();
        cycle().Timer1.setInterval(24 * 3600 * 1000);
        cycle().Timer2.setInterval(24 * 3600 * 1000);
        settle();
        if constexpr (requires { link1.log.clear(); })
            link1.log.clear();
    }
    // Lets every answer out come in (a few seconds at most).
    void settle()
    {
        QElapsedTimer t;
        t.start();
        while ((cycle().exchangesOut() > 0 || cycle().retryRunning()) && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    // Lets every exchange on the lanes end, those the window no longer waits for included, and
    // their answers be delivered (or dropped).
    void drain()
    {
        QElapsedTimer t;
        t.start();
        while (engine->pending() > 0 && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents();
    }
    // One second on, then one tick and its answers.
    void tick(int seconds = 1)
    {
        st.clock.advance(seconds);
        cycle().MonitorTick();
        settle();
    }
    void retry()
    {
        cycle().RetryPass();
        settle();
    }
    // One poll of a unit, answered; true when it was good.
    bool poll(int unit, int32_t timeOut = 1)
    {
        cycle().PollUnit(unit, timeOut, MonitorCycle::Pass::Tick);
        settle();
        return st.comm.units().unitItem(ItemFailureCount, unit) == -1;
    }
    bool readRelay(int unit)
    {
        cycle().ReadRelayUnit(unit, MonitorCycle::Pass::Tick);
        settle();
        return st.comm.units().unitItem(ItemFailureCount, unit) == -1;
    }
    // Mails go out on a worker: these wait for the queue to empty first.
    int mails()
    {
        st.waitForMail();
        return int(smtp.sent.size());
    }
    // The alarm text of every mail sent, in order.
    QStringList alarmTexts()
    {
        st.waitForMail();
        QStringList out;
        for (const auto& m : smtp.sent)
            out << m.text.split(QStringLiteral("\r\n")).value(6);
        return out;
    }
};
