#pragma once
// What the station last knew of each unit, shared by the main window and the detail monitor,
// and the start and due times of their cycles.

#include "shared/StationSize.h"

#include <QString>
#include <array>
#include <cstdint>

// Items of a UnitState.
enum UnitItem : int { ItemTemperature = 5, ItemRB0 = 6, ItemFailureCount = 14, ItemAlarmFlag = 15 };

using UnitState = std::array<int16_t, 16>;

// Values of a unit's AlarmFlag item.
enum AlarmFlagState : int16_t { AlarmClear = 0, AlarmRaised = 1, AlarmAcknowledged = 2 };

class UnitStates {
public:
    std::array<UnitState, UnitSlots> UnitValues{};
    int16_t& unitItem(int item, int unit) { return UnitValues[unit][item]; }
    int16_t unitItem(int item, int unit) const { return UnitValues[unit][item]; }
    // Whether a unit's values came whole from the unit since they were last reset: until then
    // they are the reset's zeros (or part of a reading), which its data log must not carry.
    std::array<bool, UnitSlots> Heard{};
    // Index 0 is the main window's cycle, 1..3 the detail monitor's slots.
    std::array<QString, 4> CycleStart;
    std::array<QString, 4> CycleDue;
};
