#pragma once
// A main window on its own working directory, with the links and transfers it is given.

#include "FakeSmtp.h"
#include "FakeTransfer.h"
#include "MontAll.h"
#include "PyServer.h"
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
    FakeSmtp smtp; // stands in for the window's smtp1
    std::unique_ptr<MontAll> window;

    void files(const QList<UnitRow>& rows, int mode2 = 1, const QStringList& names = {}, const QString& url = {},
               int reloadSize = 3, const QString& camera = {})
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows, 1, "s", 1, "s", 1, reloadSize));
        QStringList n = names;
        while (n.size() < rows.size())
            n << QStringLiteral("u%1").arg(n.size());
        TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(mode2, n, url, camera));
        // One address, so every alarm mail reaches the fake control once; made once per run.
        static QTemporaryDir bookDir;
        static const bool made = MakeMailXls(bookDir.filePath("mail.xls"), {"op@example.jp|op"});
        if (made)
            QFile::copy(bookDir.filePath("mail.xls"), st.path("mail.xls"));
    }
    MontAll& open()
    {
        window = std::make_unique<MontAll>(st.comm, link1, link2, transfer1, transfer2, opener);
        if (window->Load())
            window->show();
        st.comm.smtp1 = &smtp;
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
    int mails() const { return int(smtp.sent.size()); }
    // The alarm text of every mail sent, in order.
    QStringList alarmTexts() const
    {
        QStringList out;
        for (const auto& m : smtp.sent)
            out << m.text.split(QStringLiteral("\r\n")).value(6);
        return out;
    }
};
