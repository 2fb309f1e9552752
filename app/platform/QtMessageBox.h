#pragma once

#include "platform/MessageBox.h"

#include <QPointer>
#include <QSet>

class QWidget;

// The operator's message boxes, modal over the given parent.
class QtMessageBox : public MessageBoxService {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    void notify(const QString& text, const QString& title, Icon icon) override;

private:
    QWidget* m_parent;
    QSet<QString> m_open; // texts of notices on screen
};
