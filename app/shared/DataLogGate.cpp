#include "DataLogGate.h"

#include "DataFiles.h"

bool DataLogGate::write(int unit, const QDateTime& due, bool mustBeHeard)
{
    if (unit < 0 || unit >= UnitStates::UnitSlots || !due.isValid())
        return false;
    if (mustBeHeard && !m_units.Heard[unit])
        return false;
    const qint64 second = due.toSecsSinceEpoch();
    qint64& last = m_last[unit];
    // Writers are at most a tick behind the newest line; a stamp further back means the clock
    // was set back by someone who did not say so, and the lines follow it.
    constexpr qint64 SetBackSeconds = 3;
    if (second <= last && second > last - SetBackSeconds)
        return false;
    last = second;
    m_files.WriteDataLog(unit, due);
    return true;
}
