#pragma once
// The trend benchmarks' one figure of the window: from construction to the first picture of both
// charts, on a unit's last 24 hours.

#include "history/TrendWindow.h"

#include <QComboBox>
#include <QElapsedTimer>

inline double openMs(const SysInf& sys, const QString& dir, const Clock& clock, int unit)
{
    QElapsedTimer t;
    t.start();
    const ChannelTable none(dir); // raw values, as the benchmarks measured them before
    TrendWindow w(sys, none, dir, clock);
    w.findChild<QComboBox*>(QStringLiteral("UnitCombo"))->setCurrentIndex(unit);
    w.resize(1000, 700);
    w.show();
    (void)w.grab();
    return double(t.nsecsElapsed()) / 1e6;
}
