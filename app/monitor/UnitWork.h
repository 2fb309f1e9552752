#pragma once
// The exchanges the per-unit dialogs run on a poll engine's lane. Each works on copies of what
// it needs (the unit's row, a URL, the proxy), never on the station's shared data, and never
// throws: a failed exchange is a false or empty result.

#include "monitor/DetailRead.h"
#include "shared/MontComm1.h"

#include <QString>
#include <array>
#include <cstdint>

class DeviceLink;
class InternetTransfer;

namespace UnitWork {

// The detail dialog's read: a probe that aims the link at the unit, then the direct read.
struct ProbedReading {
    bool probed = false;
    UnitReading reading; // every pin
};
ProbedReading ProbeAndRead(DeviceLink& link, const DeviceRecord& row);

// Sets one output pin; before is the pin's level read just ahead of the change.
struct OutputSet {
    bool ok = false;
    bool before = false;
};
OutputSet SetOutput(DeviceLink& link, const DeviceRecord& row, int32_t port, int16_t pin, bool on);

// Up to attempts fetches of url, ending at the first text that starts with dataName; the last
// text fetched (empty after an error).
QString FetchRelayText(InternetTransfer& transfer, const QString& url, const QString& dataName, int attempts);

} // namespace UnitWork
