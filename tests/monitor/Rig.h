#pragma once
// A main window on its own working directory, with the links and transfers it is given.

#include "FakeTransfer.h"
#include "MontAll.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "VARNIX.h"

#include <QLineEdit>
#include <QPushButton>
#include <memory>

template <class Link = VARNIX, class Transfer = FakeTransfer>
struct Rig {
    Station st;
    Link link1, link2;
    Transfer transfer1, transfer2;
    WindowOpener opener;
    std::unique_ptr<MontAll> window;

    void files(const QList<UnitRow>& rows, int mode2 = 1, const QStringList& names = {}, const QString& url = {},
               int reloadSize = 3, const QString& camera = {})
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows, 1, "s", 1, "s", 1, reloadSize));
        QStringList n = names;
        while (n.size() < rows.size())
            n << QStringLiteral("u%1").arg(n.size());
        TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(mode2, n, url, camera));
    }
    MontAll& open()
    {
        window = std::make_unique<MontAll>(st.comm, link1, link2, transfer1, transfer2, opener);
        if (window->Load())
            window->show();
        return *window;
    }
    MonitorCycle& cycle() { return window->cycle(); }
    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }
    QString name(int row) { return window->findChild<QLineEdit*>(QStringLiteral("DevName_%1").arg(row))->text(); }
    // Start (or stop) by the button; while running, the timers stay on but the test runs the
    // ticks itself, so real time passing never adds a tick or a retry pass.
    void start()
    {
        button("Command2_0")->click();
        cycle().Timer1.setInterval(24 * 3600 * 1000);
        cycle().Timer2.setInterval(24 * 3600 * 1000);
    }
    // One second on, then one tick.
    void tick(int seconds = 1)
    {
        st.clock.advance(seconds);
        cycle().MonitorTick();
    }
    int mails() const
    {
        int n = 0;
        for (const auto& e : st.comm.NoticeLog)
            n += e.startsWith("mail:");
        return n;
    }
};
