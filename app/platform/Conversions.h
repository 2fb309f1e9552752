#pragma once
// The old-style conversions the stored files depend on: reading a number the
// lenient way, number-to-text with the sign column, and the checked int16.

#include <QString>
#include <cstdint>
#include <optional>

namespace Conv {

// Lower-cases the text and takes its leading numeric part; nothing numeric is 0.
double Val(const QString& text);

// A whole text that is a number (surrounding spaces allowed), else nothing.
std::optional<double> StrictNumber(const QString& text);

// Nearest int16, halves to the even neighbour; nothing when out of range.
std::optional<int16_t> CInt16(double value);
// A whole text that is a number within the int16 range after rounding, else nothing.
std::optional<int16_t> StrictInt16(const QString& text);
// Same for the 32-bit range.
std::optional<int32_t> CInt32(double value);

// Number-to-text: one leading space for a non-negative number, "-" otherwise.
QString Str(double value);

// Plain decimal text without the sign column (fractions kept, no exponent for ordinary sizes).
QString PlainNumber(double value);

// Halves-to-even rounding without a range check.
double RoundHalfEven(double value);

} // namespace Conv
