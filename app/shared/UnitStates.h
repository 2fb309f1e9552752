#pragma once
// What the station last knew of each unit, shared by the main window and the detail monitor,
// and the start and due times of their cycles.

#include "shared/StationSize.h"

#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>

// Items of a UnitState.
enum UnitItem : int { ItemTemperature = 5, ItemRB0 = 6, ItemFailureCount = 14, ItemAlarmFlag = 15 };

using UnitState = std::array<int16_t, 16>;

// Values of a unit's AlarmFlag item.
enum AlarmFlagState : int16_t { AlarmClear = 0, AlarmRaised = 1, AlarmAcknowledged = 2 };

class UnitStates {
public:
    int16_t& unitItem(int item, int unit) { return m_values[unit][item]; }
    int16_t unitItem(int item, int unit) const { return m_values[unit][item]; }
    const UnitState& values(int unit) const { return m_values[unit]; }
    // Monitoring starts again: every unit's values are zeros, its failure count -1 (never
    // polled), its alarm clear, and no unit is heard.
    void ResetAll()
    {
        for (auto& s : m_values) {
            std::fill(s.begin(), s.begin() + ItemFailureCount, int16_t(0));
            s[ItemFailureCount] = -1;
            s[ItemAlarmFlag] = AlarmClear;
        }
        m_heard.fill(false);
    }
    // Whether a unit's values came whole from the unit since they were last reset: until then
    // they are the reset's zeros (or part of a reading), which its data log must not carry.
    bool Heard(int unit) const { return m_heard[unit]; }
    void MarkHeard(int unit) { m_heard[unit] = true; }
    // Index 0 is the main window's cycle, 1..3 the detail monitor's slots.
    const QString& CycleStart(int index) const { return m_cycleStart[index]; }
    const QString& CycleDue(int index) const { return m_cycleDue[index]; }
    void SetCycleStart(int index, const QString& start) { m_cycleStart[index] = start; }
    void SetCycleDue(int index, const QString& due) { m_cycleDue[index] = due; }

private:
    std::array<UnitState, UnitSlots> m_values{};
    std::array<bool, UnitSlots> m_heard{};
    std::array<QString, 4> m_cycleStart;
    std::array<QString, 4> m_cycleDue;
};
