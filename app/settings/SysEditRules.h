#pragma once
// What the system settings window does to the device table, apart from its widgets:
// checking an entry, writing and showing a row, deleting a unit, reading the cycle boxes.

#include "shared/SysInf.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// The fields of the window as the operator left them.
struct UnitFields {
    QString name;
    std::array<QString, 4> ip;
    QString lcd, io, rs;
    int bpsIndex = 0;
    std::array<bool, 4> analogIn{}; // RA0..RA3: true "Ain", false "non"
    std::array<int, 8> rbType{};    // RB0..RB7: 0 "non", 1 "Din", 2 "Dout"
    bool controlOn = true;
};

enum class EntryMode { Add, Del, Edit };

namespace SysEditRules {

QString JoinAddress(const std::array<QString, 4>& parts);
std::array<QString, 4> SplitAddress(const QString& ip);
QString BpsText(int index);
int BpsIndex(const QString& text);

// The warning for the first failing check, or nothing when the entry passes. currentIndex is
// the row a change writes to, selectedRow the list entry matching the name box (-1 for none).
std::optional<QString> ValidateEntry(const SysInf::Content& table, const UnitFields& f, EntryMode mode,
                                     int currentIndex, int selectedRow);

void StoreRow(SysInf::Content& table, int row, const UnitFields& f);
UnitFields ShowRow(const SysInf::Content& table, int row);

// Moves the rows and relay file names after unit d up one place and drops the last unit.
void DeleteUnit(SysInf::Content& table, std::array<QString, UnitSlots>& fileNames, int d);

// The cycle and time-out boxes: the leading number of their first two characters, 0 for none.
int16_t CycleValue(const QString& text);

// The retry settings are edited by the alarm settings window; before any file was read they
// are 0, which the next load refuses, so they are written as 1 until the operator sets them.
void FillUnsetRetry(MonitorSettings& settings);

QString CycleLetter(int option);        // 0 "h", 1 "n", 2 "s"
int CycleOption(const QString& letter); // -1 for a letter that is none of them

} // namespace SysEditRules
