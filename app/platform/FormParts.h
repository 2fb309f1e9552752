#pragma once
// The pieces every form is built of: named buttons, check boxes, frames, button rows and labelled text boxes.

#include <QBoxLayout>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <initializer_list>

// A window button: named for tests, and never the default, so Enter in a box presses nothing.
inline QPushButton* FormButton(QWidget* parent, const QString& name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// A check box, named for tests; its text names it for screen readers.
inline QCheckBox* FormCheckBox(QWidget* parent, const QString& name, const QString& text)
{
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setAccessibleName(text);
    return c;
}

// A frame of related controls, named for tests; screen readers announce its caption.
inline QGroupBox* FormFrame(QWidget* parent, const QString& name, const QString& caption)
{
    auto* f = new QGroupBox(caption, parent);
    f->setObjectName(name);
    f->setAccessibleName(caption);
    return f;
}

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
