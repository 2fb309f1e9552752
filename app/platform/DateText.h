#pragma once
// The date-and-time text forms the station stores and compares.

#include <QDateTime>
#include <QString>
#include <optional>

namespace DateText {

// "yy/MM/dd HH:mm:ss": 17 characters; prefixes of 11, 14 and 17 stop after the hour, minute, second.
QString general(const QDateTime& t);
// "yy/MM/dd" and "HH:mm:ss", the relay data line's two fields.
QString date(const QDateTime& t);
QString time(const QDateTime& t);
// "yyyy/MM/dd HH:mm:ss", the data log's first field.
QString dataLog(const QDateTime& t);

// Reads a general text back; two-digit years are 2000..2099.
std::optional<QDateTime> parseGeneral(const QString& text);
// Reads a date field ("yy/MM/dd" or "yyyy/MM/dd") and a time field ("HH:mm:ss") into one moment.
std::optional<QDateTime> parseDateAndTime(const QString& dateText, const QString& timeText);

// Calendar addition of count units of "h", "n" or "s"; any other letter adds nothing.
QDateTime addCycle(const QDateTime& t, int count, const QString& unitLetter);

// How many characters of the general text a cycle of this unit letter compares: 11, 14 or 17.
int duePrefixLength(const QString& unitLetter);

} // namespace DateText
