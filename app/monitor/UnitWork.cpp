#include "monitor/UnitWork.h"

#include "outside/DeviceLink.h"
#include "outside/InternetTransfer.h"
#include "shared/TableWords.h"

namespace UnitWork {

namespace {
// The probe and the switch aim with time-out 0, the link's own default.
bool probe(DeviceLink& link, const DeviceRecord& row)
{
    try {
        if (!SysInf::AimUnitLink(link, row, 0))
            return false;
        link.GetDirp(UnitMap::PortA, UnitMap::TemperatureChannel);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace

ProbedReading ProbeAndRead(DeviceLink& link, const DeviceRecord& row)
{
    ProbedReading r;
    r.probed = probe(link, row);
    if (r.probed)
        r.reading = ReadUnit(link, row, ReadPlan{false, 0, true}); // the probe has aimed the link
    return r;
}

OutputSet SetOutput(DeviceLink& link, const DeviceRecord& row, int32_t port, int16_t pin, bool on)
{
    OutputSet r;
    try {
        // The lane's link may have served another unit since the read: aim it again.
        if (!SysInf::AimUnitLink(link, row, 0))
            return r;
        r.before = link.GetPin(port, pin) != 0;
        link.SetPin(port, pin, on ? 1 : 0);
        r.ok = true;
    } catch (const std::exception&) {
    }
    return r;
}

QString FetchRelayText(InternetTransfer& transfer, const QString& url, const QString& dataName, int attempts)
{
    QString text;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        try {
            text = transfer.OpenURL(url);
        } catch (const std::exception&) {
            text.clear();
        }
        if (text.startsWith(dataName))
            break;
    }
    return text;
}

} // namespace UnitWork
