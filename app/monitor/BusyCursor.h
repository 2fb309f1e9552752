#pragma once
// The busy pointer (arrow with hourglass) of a dialog while its exchange runs, put back
// however the dialog ends.

#include <QApplication>

class BusyCursor {
public:
    BusyCursor() = default;
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    ~BusyCursor() { set(false); }

    void set(bool on)
    {
        if (on == m_on)
            return;
        m_on = on;
        if (on)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
    }
    bool isSet() const { return m_on; }

private:
    bool m_on = false;
};
