#pragma once
// The due-time test of the monitoring cycles: due times are general date texts that form a
// fixed grid from the start time, compared at the cycle's precision (hour, minute or second).

#include <QDateTime>
#include <QString>
#include <cstdint>

struct MonitorSettings;

// True when the due time has come: its prefix equals now's, or it went by unmatched (a late
// tick, a long cycle, a clock set forward), or it lies more than a cycle ahead (a clock set back).
bool IsCycleDue(const QString& due, const QDateTime& now, const MonitorSettings& m);
// The next due time on the grid after now at the cycle's precision; a gap is jumped over.
QString NextCycleDue(const QString& due, const QDateTime& now, const MonitorSettings& m);
