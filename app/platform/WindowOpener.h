#pragma once
// The one place the main window opens its modal windows, so each later window only plugs in
// and tests can see what was opened.

#include <functional>
#include <map>

class QWidget;

enum class StationWindow {
    SysEdit,
    ArmEdit,
    ComEdit,
    ComEdit2,
    Dialog4,
    MontMain,
    Dialog1,
    Dialog2,
    Trend,        // modeless: opened beside the monitoring, which goes on
    AlarmHistory, // modeless too
    Report,       // modeless too: 日報 and 月報
};

// What a window is opened for.
struct OpenArgs {
    int unit = -1;                   // Dialog1 and Dialog2: the unit's row
    bool readOnShow = false;         // Dialog2: read the unit once shown (it had been given up)
    bool timeOutGroupEnabled = true; // SysEdit: whether the time-out group can be edited
};

class WindowOpener {
public:
    using Show = std::function<void(QWidget* parent, const OpenArgs& args)>;
    // A window that is not registered opens nothing.
    void add(StationWindow which, Show show) { m_windows[which] = std::move(show); }
    void open(StationWindow which, QWidget* parent, const OpenArgs& args = {}) const
    {
        const auto it = m_windows.find(which);
        if (it != m_windows.end() && it->second)
            it->second(parent, args);
    }

private:
    std::map<StationWindow, Show> m_windows;
};
