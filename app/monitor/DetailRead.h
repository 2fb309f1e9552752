#pragma once
// What the detail monitor dialog reads from one unit and what its fields then show, kept
// apart from the widgets so both read paths can be checked without a window.

#include "RelayText.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

class DeviceLink;
class MontComm1;

namespace Detail {

// One direct read of a unit the link is aimed at. Never throws: a link error gives ok = false.
struct DirectReading {
    bool ok = false;
    std::array<std::optional<int16_t>, 4> ain; // only the channels of type "Ain" are read
    int16_t rawTemperature = 0;
    std::array<int16_t, 8> levels{};
};
DirectReading ReadDirect(DeviceLink& link, const std::array<bool, 4>& isAin);

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

Shown ShownFromDirect(const MontComm1& comm, int unit, const DirectReading& r);
// Items 0..3 of channels that are not "Ain" keep their values, as in the main window's poll.
void StoreDirect(MontComm1& comm, int unit, const DirectReading& r);
Shown ShownFromRelay(const MontComm1& comm, int unit, const Relay::RelayData& d);

// The message for a relay document the check refused; empty for Ok and for bad data,
// which only counts as a failed read.
QString RelayCheckMessage(Relay::Check check);

} // namespace Detail
