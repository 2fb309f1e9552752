#include "shared/DataLogGate.h"

#include "shared/DataFiles.h"
#include "shared/LogArchive.h"

#include <QDir>

bool DataLogGate::write(int unit, const QDateTime& due, bool mustBeHeard)
{
    if (unit < 0 || unit >= UnitSlots || !due.isValid())
        return false;
    if (mustBeHeard && !m_units.Heard(unit))
        return false;
    const qint64 second = due.toSecsSinceEpoch();
    qint64& last = m_last[unit];
    // Writers are at most a tick behind the newest line; a stamp further back means the clock
    // was set back by someone who did not say so, and the lines follow it.
    constexpr qint64 SetBackSeconds = 3;
    if (second <= last && second > last - SetBackSeconds)
        return false;
    last = second;
    if (m_archiving)
        rollMonth(unit, due);
    m_files.WriteDataLog(unit, due);
    return true;
}

void DataLogGate::setArchiving(bool on, std::function<void()> renamed)
{
    m_archiving = on;
    m_renamed = std::move(renamed);
    m_liveMonth.fill(0); // looked at again: the logs may have been moved meanwhile
}

void DataLogGate::rollMonth(int unit, const QDateTime& due)
{
    const int month = due.date().year() * 100 + due.date().month();
    int& live = m_liveMonth[unit];
    if (live == 0) {
        live = LogArchive::FirstLineMonth(QDir(m_files.workDir()).filePath(DataFiles::DataLogName(unit)));
        if (live == 0)
            live = -1;
    }
    if (live > 0 && month > live) {
        // One rename: the next line starts a fresh live log, and no line is copied out of a file
        // being written. When the rename fails the line goes on into the live log.
        if (!LogArchive::RenameLive(m_files.workDir(), unit, live))
            return;
        if (m_renamed)
            m_renamed();
        live = month;
    } else if (live < 0) {
        live = month;
    }
}
