// A station that only publishes: it starts the MQTT feed of the folder it is given, publishes
// unit 0's state once and waits to be killed. The last-will test kills it.

#include "platform/Clock.h"
#include "shared/MontComm1.h"
#include "ScriptedMessageBox.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(QString::fromLocal8Bit(argv[1]), messages, clock);
    comm.sys().LoadSysInf();
    if (!comm.mqtt().start() || !comm.mqtt().active())
        return 1;
    comm.mqtt().unitPolled(0, UnitLamp::Good);
    std::puts("started");
    std::fflush(stdout);
    return app.exec();
}
