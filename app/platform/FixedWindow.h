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

#include <QPushButton>

// A window button: named for tests, and never the default, so Enter in a box presses nothing.
inline QPushButton* FormButton(QWidget* parent, const QString& name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

#include <QGroupBox>

// A frame of related controls, named for tests; screen readers announce its caption.
inline QGroupBox* FormFrame(QWidget* parent, const QString& name, const QString& caption)
{
    auto* f = new QGroupBox(caption, parent);
    f->setObjectName(name);
    f->setAccessibleName(caption);
    return f;
}

// A width that holds the given number of digits in the widget's font, so boxes grow with scaling.
inline int DigitsWidth(const QWidget& w, int digits)
{
    return w.fontMetrics().horizontalAdvance(QString(digits, u'0')) + 16;
}
