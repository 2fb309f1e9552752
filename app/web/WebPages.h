#pragma once
// What the web view's pages read, as JSON made by a JSON writer: the station's list (made on the
// UI thread from its own data), the alarm journal with the alarm history's filters, and a unit's
// trend read through the data log reader. Plain functions: the tests call them without a server.

#include "shared/ChannelTable.h"
#include "shared/DataLogReader.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

class SysInf;

namespace WebPages {

// A phone is some 400 px wide, a desktop chart rarely more than 2000.
inline constexpr int MaxColumns = 2000;
// The most journal lines one answer carries, newest first.
inline constexpr int MaxAlarmRows = 500;

// The units registered (name, whether monitored, which inputs are used), the communication
// mode and whether monitoring runs.
QByteArray StationJson(const SysInf& sys, const QString& mode, bool running);
// The station's communication mode in the operator's words.
QString ModeText(int commModeKind);
// The journal's entries of unit (-1: all) in the period (an index of the alarm history's).
QByteArray AlarmsJson(const QString& journalPath, int unit, int period, const QDateTime& now);
// "1h", "24h" or "7d" in seconds; nothing for anything else.
std::optional<DataLog::Seconds> SpanSeconds(const QString& span);
// The unit's last span seconds up to now, in at most columns buckets of each channel's least
// and greatest value: never more than two points a column. An analogue channel the channel table
// names is given in its engineering unit, with its caption.
QByteArray TrendJson(const QString& workDir, int unit, DataLog::Seconds span, int columns, DataLog::Seconds now,
                     const std::vector<ChannelLine>& lines = {});
QByteArray LoginPage(const QString& message);

} // namespace WebPages
