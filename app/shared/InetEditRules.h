#pragma once
// The checks of the Internet settings window that need no widgets.

#include "shared/StationSize.h"

#include <QString>
#include <array>
#include <optional>

namespace InetEditRules {

// The warning for the first failing check of the relay file names 0..count-1, or nothing.
// shown is the text of the file-name box, which alone must be letters and digits.
std::optional<QString> CheckFileNames(const std::array<QString, UnitSlots>& names, int count, const QString& shown);

// Leading and trailing spaces off, as the settings were always stored (tabs stay).
QString TrimSpaces(const QString& text);

// The time-out box: " 5 Min" for 5.
QString TimeOutText(int minutes);

} // namespace InetEditRules
