// Round ticks and the zoom about the pointer.

#include "history/TrendScale.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace TrendScale {

double ValueStep(double span, int maxTicks)
{
    maxTicks = std::max(1, maxTicks);
    if (!(span > 0) || !std::isfinite(span))
        return 1.0;
    const double rough = span / maxTicks;
    double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (;;) {
        for (const double m : {1.0, 2.0, 5.0})
            // A hair of slack: 0.3 / 3 must give 0.1, not 0.2, for a floating-point last digit.
            if (m * power >= rough * (1 - 1e-9))
                return m * power;
        power *= 10;
    }
}

std::pair<double, double> RoundRange(double low, double high, double step)
{
    const double a = std::floor(low / step + 1e-9) * step;
    const double b = std::ceil(high / step - 1e-9) * step;
    return {a, b > a ? b : a + step};
}

DataLog::Seconds TimeStep(DataLog::Seconds from, DataLog::Seconds to, int maxTicks)
{
    static constexpr std::array<DataLog::Seconds, 18> Ladder = {
        1, 5, 10, 15, 30, 60, 300, 600, 900, 1800, 3600, 10800, 21600, 43200, 86400, 2 * 86400, 7 * 86400, 14 * 86400};
    const DataLog::Seconds span = std::max<DataLog::Seconds>(1, to - from);
    maxTicks = std::max(1, maxTicks);
    for (const DataLog::Seconds step : Ladder)
        if (span / step <= maxTicks)
            return step;
    const DataLog::Seconds weeks = (span / maxTicks + 7 * 86400 - 1) / (7 * 86400);
    return weeks * 7 * 86400;
}

std::vector<DataLog::Seconds> TimeTicks(DataLog::Seconds from, DataLog::Seconds to, DataLog::Seconds step)
{
    std::vector<DataLog::Seconds> out;
    if (step <= 0 || to < from)
        return out;
    // The log's seconds count the written date and time, so whole steps of them are round local times.
    DataLog::Seconds t = from % step == 0 ? from : from - ((from % step) + step) % step + step;
    for (; t <= to; t += step)
        out.push_back(t);
    return out;
}

QString TimeLabel(DataLog::Seconds tick, DataLog::Seconds step, DataLog::Seconds span)
{
    const QDateTime t = DataLog::fromSeconds(tick);
    if (step >= 86400)
        return t.toString(QStringLiteral("MM/dd"));
    if (step < 60)
        return t.toString(span > 86400 ? QStringLiteral("MM/dd HH:mm:ss") : QStringLiteral("HH:mm:ss"));
    return t.toString(span > 86400 ? QStringLiteral("MM/dd HH:mm") : QStringLiteral("HH:mm"));
}

std::pair<DataLog::Seconds, DataLog::Seconds>
ZoomAbout(DataLog::Seconds from, DataLog::Seconds to, DataLog::Seconds anchor, double factor, DataLog::Seconds minSpan)
{
    anchor = std::clamp(anchor, from, to);
    const double span = double(to - from);
    const double newSpan = std::max(double(minSpan), span * factor);
    // The anchor keeps its share of the width on either side.
    const double share = span > 0 ? double(anchor - from) / span : 0.5;
    const auto newFrom = DataLog::Seconds(std::llround(double(anchor) - share * newSpan));
    return {newFrom, newFrom + DataLog::Seconds(std::llround(newSpan))};
}

} // namespace TrendScale
