#pragma once
// A main window without widgets: counts what the monitoring told it.

#include "monitor/MonitorCycle.h"

#include <array>

class RecordingView : public MonitorView {
public:
    void screenChanged() override { ++changes; }
    void beep() override { ++beeps; }

    int changes = 0;
    int beeps = 0;
};
