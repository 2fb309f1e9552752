#pragma once
// A main window without widgets: remembers what the monitoring told it to show.

#include "monitor/MonitorCycle.h"

#include <array>

class RecordingView : public MonitorView {
public:
    void setRowName(int row, const QString& name) override { names[row] = name; }
    void setRowTone(int row, RowTone tone) override { tones[row] = tone; }
    void setRowLamp(int row, Lamp lamp) override { lamps[row] = lamp; }
    void setPanel(int panel, const QString& text) override { panels[panel - 1] = text; }
    QString panel(int panel) const override { return panels[panel - 1]; }
    void setBeepResetVisible(bool visible) override { beepResetVisible = visible; }
    void setStartCaption(const QString& caption) override { startCaption = caption; }
    void setPortSettingEnabled(bool enabled) override { portSettingEnabled = enabled; }
    void beep() override { ++beeps; }

    std::array<QString, RowsPerPage> names;
    std::array<RowTone, RowsPerPage> tones{};
    std::array<Lamp, RowsPerPage> lamps{};
    std::array<QString, 3> panels;
    bool beepResetVisible = false;
    QString startCaption;
    bool portSettingEnabled = false;
    int beeps = 0;
};
