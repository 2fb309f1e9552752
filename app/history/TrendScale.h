#pragma once
// The trend's axes as a person reads them: ticks on round values and round times, and a zoom
// that keeps the time under the pointer where it was. Plain arithmetic, no widgets.

#include "shared/DataLogReader.h"

#include <QString>
#include <utility>
#include <vector>

namespace TrendScale {

// A step of 1, 2 or 5 × 10ⁿ giving at most maxTicks intervals over span (at least one).
double ValueStep(double span, int maxTicks);
// low..high widened outwards to whole steps.
std::pair<double, double> RoundRange(double low, double high, double step);

// A time step from the ladder 1, 5, 10, 15, 30 s; 1, 5, 10, 15, 30 min; 1, 3, 6, 12 h; 1, 2, 7 days
// (then whole weeks) giving at most maxTicks intervals over from..to.
DataLog::Seconds TimeStep(DataLog::Seconds from, DataLog::Seconds to, int maxTicks);
// The ticks from..to on whole steps of the log's wall clock (a day's step falls on midnight).
std::vector<DataLog::Seconds> TimeTicks(DataLog::Seconds from, DataLog::Seconds to, DataLog::Seconds step);
// The text of a tick for that step and range: seconds only when the step needs them, the date
// when the range is longer than a day.
QString TimeLabel(DataLog::Seconds tick, DataLog::Seconds step, DataLog::Seconds span);

// from..to zoomed by factor (below 1: in) about anchor, which keeps its place on the axis; the
// result spans at least minSpan.
std::pair<DataLog::Seconds, DataLog::Seconds> ZoomAbout(DataLog::Seconds from, DataLog::Seconds to,
                                                        DataLog::Seconds anchor, double factor,
                                                        DataLog::Seconds minSpan = 30);

} // namespace TrendScale
