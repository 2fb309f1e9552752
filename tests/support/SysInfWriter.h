#pragma once
// Builds a sysinf001.csv for tests: one record per unit, pins and alarm as given.

#include "platform/TextFile.h"

#include <QString>
#include <QStringList>

struct UnitRow {
    QString name;
    QString ip = QStringLiteral("127.0.0.11");
    int port = 1502;
    QString pins = QStringLiteral("Ain,Ain,non,non,Din,Din,Din,Din,Dout,Dout,non,non");
    QString control = QStringLiteral("On");
    QString arm = QStringLiteral("non");
};

inline QString sysInfText(const QList<UnitRow>& rows, int cycle = 1, const QString& cycleType = QStringLiteral("s"),
                          int timeOut = 1, const QString& timeOutType = QStringLiteral("s"), int reloadCycl = 1,
                          int reloadSize = 3)
{
    QString t = QStringLiteral("sysinf001.csv,Rec= %1,,,,,,,,,,,,,,,,,,\r\n").arg(rows.size());
    t += QStringLiteral(
             "MoniterCycl= %1,MoniterCyclType=%2,TimeOut= %3,TimeOutCyclType=%4,ReloadCycl= %5,ReloadSize= %6,"
             ",,,,,,,,,,,,,,\r\n")
             .arg(cycle)
             .arg(cycleType)
             .arg(timeOut)
             .arg(timeOutType)
             .arg(reloadCycl)
             .arg(reloadSize);
    t += QStringLiteral(
        "名称,ＩＰ,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,Control,Arm\r\n");
    for (const auto& r : rows)
        t += QStringList({r.name, r.ip, QStringLiteral("0"), QString::number(r.port), QStringLiteral("0"),
                          QStringLiteral("9600"), r.pins, r.control, r.arm})
                 .join(u',') +
             QStringLiteral("\r\n");
    return t + QStringLiteral("\r\n");
}

inline QString inetInfText(int mode2, const QStringList& fileNames, const QString& url = QString(),
                           const QString& camera1 = QString())
{
    QStringList l = {
        QStringLiteral("Mode=3"),    QStringLiteral("Mode2=%1").arg(mode2), "FTP=", "ID=", "PassWord=", "RemoteDir=",
        QStringLiteral("URL=") + url};
    for (int i = 0; i < fileNames.size(); ++i)
        l << QStringLiteral("FileName%1=").arg(i + 1) + fileNames[i];
    l << "TimeOut=3"
      << "NotReadSize=5"
      << "ProxyServerName="
      << "ProxyPortNo="
      << "SMTPServerName="
      << "SendMailName="
      << "MailHeader="
      << "MailBody="
      << "DialUpName="
      << "DialUpUser="
      << "DialUpPass="
      << "SendFordername=" << QStringLiteral("Camera1=") + camera1 << "Camera2="
      << "Camera3="
      << "Camera4=";
    return l.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n");
}

// n units named u0, u1, ... at addresses 10.0.0.0, 10.0.0.1, ... (for scripted links).
inline QList<UnitRow> numberedRows(int n)
{
    QList<UnitRow> rows;
    for (int i = 0; i < n; ++i) {
        UnitRow r;
        r.name = QStringLiteral("u%1").arg(i);
        r.ip = QStringLiteral("10.0.0.%1").arg(i);
        rows << r;
    }
    return rows;
}

// n units of a unit simulator, named prefix + index.
template <class Sim> QList<UnitRow> simulatedRows(const Sim& sim, int n, const QString& prefix = QStringLiteral("u"))
{
    QList<UnitRow> rows;
    for (int i = 0; i < n; ++i) {
        UnitRow r;
        r.name = prefix + QString::number(i);
        r.ip = QString::fromStdString(sim.ip(i));
        r.port = sim.port();
        rows << r;
    }
    return rows;
}
