#include "shared/UnitRead.h"

#include "outside/DeviceLink.h"
#include "shared/TableWords.h"
#include "shared/UnitStates.h"

#include <algorithm>
#include <exception>

UnitReading ReadUnit(DeviceLink& link, const DeviceRecord& row, const ReadPlan& plan)
{
    UnitReading r;
    try {
        if (plan.aim && !SysInf::AimUnitLink(link, row, plan.timeOutSeconds)) {
            r.why = QStringLiteral("アドレスの設定が正しくありません");
            return r;
        }
        for (int c = 0; c < UnitMap::AnalogChannels; ++c)
            if (row[ColRA0 + c] == TableWord::Ain)
                r.items[c] = link.GetAnalog(UnitMap::PortA, int16_t(c));
        r.items[ItemTemperature] = link.GetAnalog(UnitMap::PortA, UnitMap::TemperatureChannel);
        for (int p = 0; p < UnitMap::PortBPins; ++p) {
            const QString& type = row[ColRB0 + p];
            if (plan.allPins || type == TableWord::Din || type == TableWord::Dout)
                r.items[ItemRB0 + p] =
                    int16_t(std::clamp<int32_t>(link.GetPin(UnitMap::PortB, int16_t(p)), INT16_MIN, INT16_MAX));
        }
        r.ok = true;
    } catch (const std::exception& e) {
        r.why = QString::fromUtf8(e.what());
    }
    return r;
}

void StoreReading(UnitStates& units, int unit, const UnitReading& reading)
{
    if (unit < 0 || unit >= UnitSlots)
        return;
    // Values read before a failure stay stored.
    for (int i = 0; i < int(reading.items.size()); ++i)
        if (reading.items[i])
            units.unitItem(i, unit) = *reading.items[i];
    if (reading.ok)
        units.MarkHeard(unit);
}
