#pragma once
// The one place the main window opens its modal windows, so each later window only plugs in
// and tests can see what was opened.

#include <functional>
#include <map>

class QWidget;

enum class StationWindow { SysEdit, ArmEdit, ComEdit, ComEdit2, Dialog4, MontMain, Dialog1, Dialog2 };

class WindowOpener {
public:
    using Show = std::function<void(QWidget* parent)>;
    // A window that is not registered opens nothing.
    void add(StationWindow which, Show show) { m_windows[which] = std::move(show); }
    void open(StationWindow which, QWidget* parent) const
    {
        const auto it = m_windows.find(which);
        if (it != m_windows.end() && it->second)
            it->second(parent);
    }

private:
    std::map<StationWindow, Show> m_windows;
};
