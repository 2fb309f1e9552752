#include "DetailRead.h"

#include "Conversions.h"
#include "DeviceLink.h"
#include "MontComm1.h"
#include "TableWords.h"

#include <algorithm>

namespace Detail {

DirectReading ReadDirect(DeviceLink& link, const std::array<bool, 4>& isAin)
{
    DirectReading r;
    try {
        for (int k = 0; k < UnitMap::AnalogChannels; ++k)
            if (isAin[k])
                r.ain[k] = link.GetAnalog(UnitMap::PortA, int16_t(k));
        r.rawTemperature = link.GetAnalog(UnitMap::PortA, UnitMap::TemperatureChannel);
        for (int p = 0; p < UnitMap::PortBPins; ++p)
            r.levels[p] = int16_t(std::clamp<int32_t>(link.GetPin(UnitMap::PortB, int16_t(p)), INT16_MIN, INT16_MAX));
        r.ok = true;
    } catch (const std::exception&) {
        r.ok = false;
    }
    return r;
}

QString TemperatureText(int16_t raw)
{
    return Conv::Str(Conv::RoundHalfEven(raw / UnitMap::DegreeFactor)) + QStringLiteral(" ℃");
}

std::array<bool, 4> AinChannels(const MontComm1& comm, int unit)
{
    std::array<bool, 4> ain{};
    if (unit >= 0 && unit < comm.sys().unitCount())
        for (int k = 0; k < 4; ++k)
            ain[k] = comm.sys().cell(unit, ColRA0 + k) == TableWord::Ain;
    return ain;
}

namespace {
void fillPins(Shown& s, const MontComm1& comm, int unit, const auto& levels)
{
    for (int p = 0; p < 8; ++p) {
        s.pinType[p] = comm.sys().GetPinType(unit, UnitMap::PortB, p);
        s.high[p] = levels[p] != 0;
    }
}
} // namespace

Shown ShownFromDirect(const MontComm1& comm, int unit, const DirectReading& r)
{
    Shown s;
    for (int k = 0; k < 4; ++k)
        if (r.ain[k])
            s.ain[k] = QString::number(*r.ain[k]);
    s.temperature = TemperatureText(r.rawTemperature);
    fillPins(s, comm, unit, r.levels);
    return s;
}

void StoreDirect(MontComm1& comm, int unit, const DirectReading& r)
{
    if (unit < 0 || unit >= SysInf::UnitSlots)
        return;
    for (int k = 0; k < 4; ++k)
        if (r.ain[k])
            comm.units().unitItem(k, unit) = *r.ain[k];
    comm.units().unitItem(ItemTemperature, unit) = r.rawTemperature;
    for (int p = 0; p < 8; ++p)
        comm.units().unitItem(ItemRB0 + p, unit) = r.levels[p];
}

Shown ShownFromRelay(const MontComm1& comm, int unit, const Relay::RelayData& d)
{
    Shown s;
    const auto ain = AinChannels(comm, unit);
    for (int k = 0; k < 4; ++k)
        if (ain[k])
            s.ain[k] = d.fields[2 + k];
    s.temperature = d.fields[6] + QStringLiteral(" ℃");
    std::array<int16_t, 8> levels{};
    for (int p = 0; p < 8; ++p)
        levels[p] = d.values[5 + p];
    fillPins(s, comm, unit, levels);
    return s;
}

QString RelayCheckMessage(Relay::Check check)
{
    switch (check) {
    case Relay::Check::NotDataFile:
        return QStringLiteral("パラメータファイルがダウンロードできません\r\nアップロード側が接続しているか、又は\r\n"
                              "通信設定が正しいか確認して下さい");
    case Relay::Check::TypesDiffer:
        return QStringLiteral("入出力タイプ設定がアップロード側と\r\n異なっています");
    default:
        return QString();
    }
}

} // namespace Detail
