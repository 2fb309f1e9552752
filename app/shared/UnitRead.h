#pragma once
// The one read of a unit's readings, run on a poll engine's lane, and the one way its values
// reach the station's unit states. The main window's polls, the detail dialog and the upload
// slots differ only in the plan they give.

#include "shared/SysInf.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

class DeviceLink;
class UnitStates;

// What one read took from a unit: the items read before any failure (UnitStates' items:
// RA0..RA3, the temperature, RB0..RB7), whether the whole read went through, and if not why.
struct UnitReading {
    std::array<std::optional<int16_t>, 14> items;
    bool ok = false;
    QString why;
};

struct ReadPlan {
    bool aim = true;            // aim the link at the row first (a probe may have done it already)
    int32_t timeOutSeconds = 0; // the time-out the link is aimed with
    bool allPins = false;       // every pin of port B whatever its type, not only Din and Dout
};

// Never throws: a link error ends the read with ok false and its reason. Any thread: it
// touches only its arguments.
UnitReading ReadUnit(DeviceLink& link, const DeviceRecord& row, const ReadPlan& plan);

// Stores the items read; a whole read also marks the unit heard since its values were reset.
void StoreReading(UnitStates& units, int unit, const UnitReading& reading);
