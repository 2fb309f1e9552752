#pragma once
// One station's shared data on its own temporary working directory.

#include "shared/MontComm1.h"
#include "ScriptedMessageBox.h"
#include "SetClock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

// What a window does with a settings load or save: shows a failure, and says whether it went through.
inline bool Reported(MessageBoxService& messages, const Outcome& outcome)
{
    Notify(messages, outcome);
    return outcome.ok();
}

struct Station {
    QTemporaryDir dir;
    ScriptedMessageBox messages;
    SetClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30))};
    MontComm1 comm{dir.path(), messages, clock};

    QString path(const QString& name) const { return dir.filePath(name); }
    void writeBytes(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    QByteArray readBytes(const QString& name) const
    {
        QFile f(path(name));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    // Lets events run until every queued alarm mail has gone out (or failed); false on time-out.
    bool waitForMail(int limitMs = 20000)
    {
        QDeadlineTimer deadline(limitMs);
        while (comm.alarms().mailsPending() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return comm.alarms().mailsPending() == 0;
    }
    QStringList messageTexts() const
    {
        QStringList out;
        for (const auto& m : messages.shown)
            out << m.text;
        return out;
    }
};

// Settings set in memory, the way a settings window commits its copy.
inline void EditInet(MontComm1& comm, const std::function<void(InternetSettings&)>& edit)
{
    auto s = comm.inet().InternetSettings();
    edit(s);
    comm.inet().Commit(s);
}

inline void EditSys(MontComm1& comm, const std::function<void(SysInf::Content&)>& edit)
{
    auto c = comm.sys().content();
    edit(c);
    comm.sys().Commit(c);
}
