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

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <initializer_list>

// A row of window buttons: the left ones, a gap, the right ones.
inline QHBoxLayout* FormButtonRow(std::initializer_list<QPushButton*> left, std::initializer_list<QPushButton*> right)
{
    auto* row = new QHBoxLayout;
    for (QPushButton* b : left)
        row->addWidget(b);
    row->addStretch(1);
    for (QPushButton* b : right)
        row->addWidget(b);
    return row;
}

// A labelled text box on a row of a grid; the label's text names the box for screen readers.
inline QLineEdit* FormTextRow(QGridLayout* grid, QWidget* parent, const QString& name, const QString& label, int row,
                              int minWidth = 200, QLabel** labelOut = nullptr)
{
    auto* l = new QLabel(label, parent);
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setAccessibleName(label);
    e->setMinimumWidth(minWidth);
    l->setBuddy(e);
    grid->addWidget(l, row, 0);
    grid->addWidget(e, row, 1);
    if (labelOut)
        *labelOut = l;
    return e;
}

// A width that holds the given number of digits in the widget's font, so boxes grow with scaling.
inline int DigitsWidth(const QWidget& w, int digits)
{
    return w.fontMetrics().horizontalAdvance(QString(digits, u'0')) + 16;
}
