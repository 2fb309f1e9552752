#pragma once
// The four lamp pictures, read from the working directory with built-in copies as fallback.

#include <QIcon>
#include <QString>

namespace Lamps {
inline const QString On = QStringLiteral("ledON.ico");
inline const QString Off = QStringLiteral("ledOFF.ico");
inline const QString GivenUp = QStringLiteral("ledON2.ico");
inline const QString Wait = QStringLiteral("ledWAIT.ico");

QIcon load(const QString& workDir, const QString& fileName);
// Writes the built-in copies into dir (for the demo and installers); false on failure.
bool writeBuiltIn(const QString& dir);
} // namespace Lamps
