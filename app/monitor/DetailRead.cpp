#include "monitor/DetailRead.h"

#include "platform/Conversions.h"
#include "outside/DeviceLink.h"
#include "shared/MontComm1.h"
#include "shared/TableWords.h"

#include <algorithm>

namespace Detail {

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

Shown ShownFromDirect(const MontComm1& comm, int unit, const UnitReading& r)
{
    Shown s;
    for (int k = 0; k < 4; ++k)
        if (r.items[k])
            s.ain[k] = QString::number(*r.items[k]);
    s.temperature = TemperatureText(r.items[ItemTemperature].value_or(0));
    std::array<int16_t, 8> levels{};
    for (int p = 0; p < 8; ++p)
        levels[p] = r.items[ItemRB0 + p].value_or(0);
    fillPins(s, comm, unit, levels);
    return s;
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
