#pragma once
// Monthly archives of the units' data logs. With archiving on, the log gate renames a unit's live
// log DataFileNNN.csv to DataFileNNN_YYYYMM.csv (its first line's month) before the first line
// of a later month, so nothing is ever copied out of a file being written. A worker then turns
// each such file into DataFileNNN_YYYYMM.csv.zst, one per month its lines fall in: zstd frames of
// a day each, every one preceded by a small skippable frame naming its day and length, so a
// reader finds a day without decompressing the month (and the zstd tool still reads the file
// whole). An archive is written under a temporary name, synced, read back and compared, renamed
// and the folder synced; only then is the renamed log deleted. Every step can be cut by a power
// failure and done again: a month already archived is compared, and lines are merged into an
// existing archive only where they are not in it yet.

#include "shared/Outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace LogArchive {

// A month as YYYYMM.
int MonthOf(int64_t logSeconds);
int NextMonth(int month);

QString PendingName(int unit, int month, int copy = 0); // DataFileNNN_YYYYMM.csv (_k.csv for a copy)
QString ArchiveName(int unit, int month);               // DataFileNNN_YYYYMM.csv.zst

// A unit's logs in the order they are read: archives by month, renamed logs waiting for the
// worker, the live log last (present or not).
struct UnitLogs {
    struct Archive {
        int month = 0;
        QString path;
    };
    std::vector<Archive> archives;
    QStringList pending;
    QString live;
};
UnitLogs FindUnitLogs(const QString& workDir, int unit);
// Every renamed log of the folder waiting for the worker, oldest month first.
QStringList FindPending(const QString& workDir);

// The month of the log's first good line; 0 when it has none (or is not there).
int FirstLineMonth(const QString& path);
// Renames the live log to the month's waiting name (a copy's name when one waits already);
// false when it could not (the line then goes on into the live log).
bool RenameLive(const QString& workDir, int unit, int month);

// The lines of an archive whose day falls in fromDay..toDay (days since 1970-01-01), each
// without its line end, in the archive's order. False when the archive is unreadable or broken
// from some point on (the lines before it are given).
bool ReadDays(const QString& path, int64_t fromDay, int64_t toDay,
              const std::function<void(const char* begin, const char* end)>& line);

// Archives one renamed log and deletes it. Stops between steps when cancel is set (the log then
// waits for the next run). A fault names the file and what went wrong.
Outcome ArchiveLog(const QString& path, const std::atomic<bool>* cancel = nullptr);
// Deletes the archives of months before the keepMonths months up to and including nowMonth
// (keepMonths 0: none); the count deleted.
int DeleteExpired(const QString& workDir, int keepMonths, int nowMonth);
// Removes temporaries left by a run cut short.
void RemoveTemporaries(const QString& workDir);

// The zstd level the worker writes with.
inline constexpr int Level = 3; // 1/10 of the logs at the speed of the disk; higher levels gain little on them

} // namespace LogArchive
