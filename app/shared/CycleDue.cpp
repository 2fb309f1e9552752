#include "shared/CycleDue.h"

#include "platform/DateText.h"
#include "shared/MontComm1.h"

#include <algorithm>

bool IsCycleDue(const QString& due, const QDateTime& now, const MonitorSettings& m)
{
    const int L = DateText::duePrefixLength(m.MoniterCyclType);
    const QString nowText = DateText::general(now);
    if (due.left(L) == nowText.left(L))
        return true;
    const auto dueTime = DateText::parseGeneral(due);
    if (!dueTime)
        return true; // an unreadable due time would never match again
    if (due.left(L) < nowText.left(L) && *dueTime < now)
        return true;
    // The prefix test fires early within the due minute or hour, so the due time may lie up
    // to a whole cycle ahead at the finer precision; more than that means the clock went back.
    const QDateTime limit = DateText::addCycle(now, m.MoniterCycl, m.MoniterCyclType);
    return due.left(L) > DateText::general(limit).left(L);
}

QString NextCycleDue(const QString& dueText, const QDateTime& now, const MonitorSettings& m)
{
    const int L = DateText::duePrefixLength(m.MoniterCyclType);
    auto due = DateText::parseGeneral(dueText);
    if (!due)
        due = now;
    const qint64 step = std::max<qint64>(1, due->secsTo(DateText::addCycle(*due, m.MoniterCycl, m.MoniterCyclType)));
    QDateTime next = DateText::addCycle(*due, m.MoniterCycl, m.MoniterCyclType);
    if (next < now)
        next = next.addSecs((next.secsTo(now) / step) * step);
    while (DateText::general(next).left(L) <= DateText::general(now).left(L))
        next = next.addSecs(step);
    return DateText::general(next);
}
