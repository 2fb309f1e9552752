#pragma once
// Drives a window by its control names, and saves its picture when TALVERON_SCREENSHOTS names a folder.

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QWidget>
#include <gtest/gtest.h>
#include <stdexcept>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

template <class T> T* control(QWidget& w, const QString& name)
{
    T* c = w.findChild<T*>(name);
    // A name the window does not have fails its test only: the binary goes on with the others.
    if (!c)
        throw std::runtime_error("the window has no control " + name.toStdString() + " of that type");
    return c;
}

inline void setText(QWidget& w, const QString& name, const QString& text)
{
    if (auto* e = control<QLineEdit>(w, name))
        e->setText(text);
}

inline void type(QWidget& w, const QString& name, const QString& text)
{
    // as the operator types: the edit signals fire
    if (auto* e = control<QLineEdit>(w, name)) {
        e->selectAll();
        e->insert(text);
    }
}

inline QString text(QWidget& w, const QString& name)
{
    auto* e = control<QLineEdit>(w, name);
    return e ? e->text() : QString();
}

inline void click(QWidget& w, const QString& name)
{
    if (auto* b = control<QAbstractButton>(w, name))
        b->click();
}

inline bool checked(QWidget& w, const QString& name)
{
    auto* b = control<QAbstractButton>(w, name);
    return b && b->isChecked();
}

inline void snap(QWidget& w, const QString& name)
{
    const QString dir = qEnvironmentVariable("TALVERON_SCREENSHOTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w.grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}
