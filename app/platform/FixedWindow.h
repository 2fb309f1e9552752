#pragma once
// The settings windows keep the size their layout needs and open in the middle of the screen.

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

inline void FixAndCentre(QWidget& w)
{
    w.adjustSize();
    w.setFixedSize(w.sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        w.move(screen->availableGeometry().center() - w.rect().center());
}
