#pragma once
// The words of the device table's cells, as sysinf001.csv holds them.

#include <QString>

namespace TableWord {
inline const QString Ain = QStringLiteral("Ain");   // analogue input (RA pins)
inline const QString Din = QStringLiteral("Din");   // digital input (RB pins)
inline const QString Dout = QStringLiteral("Dout"); // digital output (RB pins)
inline const QString Non = QStringLiteral("non");   // pin unused; no alarm
inline const QString On = QStringLiteral("On");     // Control: the unit is monitored
inline const QString Off = QStringLiteral("Off");   // Control: the unit is not monitored
inline const QString High = QStringLiteral("High"); // alarm and output level
inline const QString Low = QStringLiteral("Low");
inline const QString PortA = QStringLiteral("PortA"); // port 5, as output requests name it
inline const QString PortB = QStringLiteral("PortB"); // port 6
} // namespace TableWord
