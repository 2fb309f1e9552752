#pragma once
// One station's detail monitor on its own working directory, with real unit links and HTTP
// fetches behind it and the ticks driven by the test.

#include "relay/DetailMonitor.h"
#include "platform/EventPump.h"
#include "FakeSmtp.h"
#include "outside/PollEngine.h"
#include "PyServer.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "outside/VARNIX.h"

#include <QTemporaryDir>
#include <QTimer>
#include <functional>

struct RelayStation {
    Station st;
    PollEngine engine{[] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); }};
    FakeSmtp smtp;
    DetailMonitor mon{st.comm, engine};

    RelayStation()
    {
        mon.setTimersEnabled(false);
        st.comm.alarms().setSmtp(&smtp);
        st.comm.setFtpStepTimeOutMs(5000);
    }
    // The mail worker may still be talking to smtp, which goes before st.
    ~RelayStation() { st.comm.alarms().StopMail(); }
    // Writes sysinf001.csv and InetInf.ini; every unit gets the relay file name "ABC", "ABD", ...
    void files(const QList<UnitRow>& rows, int mode, const std::function<void(InternetSettings&)>& more = {},
               int cycle = 1)
    {
        TextFile::writeWhole(st.path("sysinf001.csv"),
                             sysInfText(rows, cycle, QStringLiteral("s"), 2, QStringLiteral("s")));
        st.comm.sys().LoadSysInf(); // the settings file holds one relay file name per loaded unit
        InternetSettings s;
        s.Mode = int16_t(mode);
        s.PassWord = QStringLiteral("secret");
        for (int i = 0; i < rows.size(); ++i)
            s.FileName[i] = QStringLiteral("AB") + QChar(u'C' + i);
        if (more)
            more(s);
        st.comm.inet().Commit(s);
        st.comm.inet().SaveInetInf();
        CopyOperatorBook(st.path("mail.xls"));
    }
    // Lets events run until no slot works, no flip waits and no alarm mail is left to send (at
    // most 20 s, so a fault cannot hang the test; the assertions after it then fail).
    void settle()
    {
        QTimer limit;
        limit.setSingleShot(true);
        limit.start(20000);
        EventPump::waitUntil([&] {
            return (!mon.working() && !mon.switchOperating() && st.comm.alarms().mailsPending() == 0) ||
                   !limit.isActive();
        });
    }
    void start(int slot = 0)
    {
        mon.Activate();
        click(slot);
    }
    void click(int slot)
    {
        mon.OpencmdClick(slot);
        settle();
    }
    void flip(int s, bool on)
    {
        mon.SwitchFlipped(s, on);
        settle();
    }
    // One second on, and the slot's tick.
    void cycle(int slot = 0, int seconds = 1)
    {
        st.clock.advance(seconds);
        mon.Timer1Tick(slot);
        settle();
    }
    const SlotScreen& screen(int slot = 0) const { return mon.screen(slot); }
    QString status(int slot = 0) const { return mon.screen(slot).status; }
};
