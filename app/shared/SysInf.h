#pragma once
// The device table and the cycle settings, and the file sysinf001.csv that stores them.

#include "shared/StationSize.h"
#include "shared/Outcome.h"
#include "shared/UnitStates.h"

#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <tuple>

class DeviceLink;
class MessageBoxService;

// Columns of a DeviceRecord, in file order.
enum DeviceColumn : int {
    ColName = 0,
    ColIP = 1,
    ColLCD = 2,
    ColIO = 3,
    ColRS = 4,
    ColBPS = 5,
    ColRA0 = 6,  // RA0..RA3 are 6..9
    ColRB0 = 10, // RB0..RB7 are 10..17
    ColControl = 18,
    ColArm = 19,
};

struct MonitorSettings {
    int16_t MoniterCycl = 0;
    QString MoniterCyclType;
    int16_t TimeOut = 0;
    QString TimeOutCyclType;
    int16_t ReloadCycl = 0;
    int16_t ReloadSize = 0;
};

// A unit's alarm setting ("Din: 3:High"), read from its Arm cell.
struct AlarmRule {
    enum class Kind { None, Analog, Digital };
    Kind kind = Kind::None;
    int pin = -1;      // -1 when the pin part names no pin of that kind
    bool high = false; // holds at level 1 when true, at level 0 otherwise
    // The UnitState item the rule watches.
    int item() const { return (kind == Kind::Digital ? ItemRB0 : 0) + pin; }
};

// One unit's row of the device table: its cells in the order of DeviceColumn (and one spare).
using DeviceRecord = std::array<QString, 21>;

class SysInf {
public:
    static constexpr int TableRows = 111;
    static constexpr int TableColumns = int(std::tuple_size_v<DeviceRecord>);

    SysInf(QString workDir, MessageBoxService& messages);

    // What the file holds. A settings window edits a copy and commits it whole.
    struct Content {
        int16_t DeviceCount = 0;
        std::array<DeviceRecord, TableRows> DeviceTable;
        struct MonitorSettings MonitorSettings;
        int unitCount() const { return std::clamp<int>(DeviceCount, 0, UnitSlots); }
        QString& cell(int row, int column) { return DeviceTable[row][column]; }
        const QString& cell(int row, int column) const { return DeviceTable[row][column]; }
    };

    int16_t DeviceCount() const { return m_content.DeviceCount; }
    const std::array<DeviceRecord, TableRows>& DeviceTable() const { return m_content.DeviceTable; }
    const struct MonitorSettings& MonitorSettings() const { return m_content.MonitorSettings; }
    const Content& content() const { return m_content; }
    const QString& SysInfName() const { return m_name; }
    bool SysInfValid() const { return m_valid; }
    bool SysInfUnreadable() const { return m_unreadable; }

    // The whole table and settings, from a settings window's copy; saved by SaveSysInf.
    void Commit(const Content& content) { m_content = content; }
    // A dialog's change to one unit's row (its pin types or its alarm setting).
    void SetCell(int row, int column, const QString& text) { m_content.DeviceTable[row][column] = text; }
    void SetMonitorSettings(const struct MonitorSettings& settings) { m_content.MonitorSettings = settings; }

    // DeviceCount held within 0..UnitSlots, for every loop over the table.
    int unitCount() const;
    // A row with an empty address holds no unit: it is never polled, logged or mailed.
    bool HoldsUnit(int row) const;
    const QString& cell(int row, int column) const { return m_content.DeviceTable[row][column]; }

    // Failed with what went wrong, for the window to show; NotLoaded for a station without
    // the file. A save of a file that did not load asks first.
    Outcome LoadSysInf();
    Outcome SaveSysInf();
    static QString GetSysInfField(const QString& key, const QString& line);
    int16_t GetPinType(int unit, int port, int pin) const;
    QString GetArmField(int unit, int part) const;
    AlarmRule ArmRule(int unit) const;
    // The journal's condition field for a unit: its alarm setting, empty where none.
    QString AlarmCondition(int unit) const;
    // The unit's twelve pin types RA0..RA3, RB0..RB7, joined by ",": the relay files carry them.
    QString PinTypesText(int unit) const;

    // --- aiming a device link at a unit of the table ---
    bool OpenUnitLink(DeviceLink& link, int unit);
    // The same on a copy of a unit's row, for a poll engine's lane.
    static bool OpenUnitLink(DeviceLink& link, const DeviceRecord& row, int32_t timeOut);
    // Writes the unit's address properties in their fixed order; false for a unit outside
    // the table or a port number beyond int16 (the link is then left as it was).
    bool AimUnitLink(DeviceLink& link, int unit, int32_t timeOut) const;
    static bool AimUnitLink(DeviceLink& link, const DeviceRecord& row, int32_t timeOut);
    // The key a poll engine keeps the unit's connection under.
    static QString UnitKey(const DeviceRecord& row);
    bool ProbeUnitLink(DeviceLink& link, int unit);

private:
    QString path(const QString& fileName) const;
    Outcome loadChecked();

    QString m_workDir;
    MessageBoxService& m_messages;
    Content m_content;
    QString m_name = QStringLiteral("sysinf001.csv");
    bool m_valid = false;
    // The file is there but did not load: a save asks first and keeps the old file as .bak.
    bool m_unreadable = false;
};
