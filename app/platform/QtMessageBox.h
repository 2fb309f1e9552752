#pragma once

#include "MessageBox.h"

class QWidget;

// The operator's message boxes, modal over the given parent.
class QtMessageBox : public MessageBoxService {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    Answer show(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

private:
    QWidget* m_parent;
};
