#pragma once
// The one way into the units' data logs for every writer (the main window's tick, the detail
// monitor dialog, the relay slots): at most one line per unit and second, the first standing,
// in time order, and no line while a unit's values are not yet its own.

#include "shared/UnitStates.h"

#include <QDateTime>
#include <array>
#include <functional>

class DataFiles;

class DataLogGate {
public:
    DataLogGate(DataFiles& files, const UnitStates& units) : m_files(files), m_units(units) {}

    // Appends the unit's line under the second of `due` unless the unit has a line for that
    // second or a later one, or, when mustBeHeard, its values have not come from it since they
    // were reset. True when the line was written.
    bool write(int unit, const QDateTime& due, bool mustBeHeard = true);
    // The wall clock was set: lines follow the new clock, whatever seconds were written before.
    void clockChanged() { m_last.fill(0); }
    // With archiving on, a unit's live log is renamed for the archive worker before its first
    // line of a later month (or at once when it holds older months), and renamed() is called.
    void setArchiving(bool on, std::function<void()> renamed = {});

private:
    DataFiles& m_files;
    const UnitStates& m_units;
    // Renames the unit's live log when the line's month is later than the log's first month.
    void rollMonth(int unit, const QDateTime& due);

    std::array<qint64, UnitSlots> m_last{}; // each unit's last line, seconds since the epoch
    bool m_archiving = false;
    std::function<void()> m_renamed;
    // The month (YYYYMM) of each live log's first line: 0 not looked at yet, -1 no log.
    std::array<int, UnitSlots> m_liveMonth{};
};
