#pragma once
// What the detail monitor dialog reads from one unit and what its fields then show, kept
// apart from the widgets so both read paths can be checked without a window.

#include "shared/RelayText.h"
#include "shared/UnitRead.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

class MontComm1;

namespace Detail {

// What the slot's fields show after a good read.
struct Shown {
    std::array<std::optional<QString>, 4> ain; // empty: the field is left as it is
    QString temperature;
    std::array<int16_t, 8> pinType{}; // GetPinType: 1 input, 0 output, else nothing is shown
    std::array<bool, 8> high{};
};

// " 26 ℃" from a raw reading of the temperature channel (halves to even).
QString TemperatureText(int16_t raw);
std::array<bool, 4> AinChannels(const MontComm1& comm, int unit);

// What a whole read of every pin shows (ReadUnit with allPins).
Shown ShownFromDirect(const MontComm1& comm, int unit, const UnitReading& r);
Shown ShownFromRelay(const MontComm1& comm, int unit, const Relay::RelayData& d);

// The message for a relay document the check refused; empty for Ok and for bad data,
// which only counts as a failed read.
QString RelayCheckMessage(Relay::Check check);

} // namespace Detail
