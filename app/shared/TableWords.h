#pragma once
// The words of the device table's cells, as sysinf001.csv holds them.

#include <QString>

namespace TableWord {
inline const QString Ain = QStringLiteral("Ain");   // analogue input (RA pins)
inline const QString Din = QStringLiteral("Din");   // digital input (RB pins)
inline const QString Dout = QStringLiteral("Dout"); // digital output (RB pins)
inline const QString Non = QStringLiteral("non");   // pin unused; no alarm
inline const QString On = QStringLiteral("On");     // Control: the unit is monitored
inline const QString High = QStringLiteral("High"); // alarm level
} // namespace TableWord
