#include "platform/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace {
QMessageBox::Icon boxIcon(MessageBoxService::Icon icon)
{
    switch (icon) {
    case MessageBoxService::Icon::Information:
        return QMessageBox::Information;
    case MessageBoxService::Icon::Warning:
        return QMessageBox::Warning;
    case MessageBoxService::Icon::Critical:
        return QMessageBox::Critical;
    case MessageBoxService::Icon::Question:
        return QMessageBox::Question;
    default:
        return QMessageBox::NoIcon;
    }
}
} // namespace

void QtMessageBox::notify(const QString& text, const QString& title, Icon icon)
{
    if (m_open.contains(text))
        return;
    m_open.insert(text);
    // Queued: the box appears after the step that raised it has returned. Not modal: a notice
    // raised by work must not lock the history windows, which are the main window's children;
    // as the main window's own dialog it stays above it. No nested loop holds anything.
    QPointer<QWidget> parent(m_parent);
    QMetaObject::invokeMethod(
        qApp,
        [this, parent, text, title, icon] {
            auto* box = new QMessageBox(parent);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setText(text);
            box->setWindowTitle(title);
            box->setIcon(boxIcon(icon));
            box->setStandardButtons(QMessageBox::Ok);
            box->setWindowModality(Qt::NonModal);
            QObject::connect(box, &QObject::destroyed, qApp, [this, text] { m_open.remove(text); });
            box->show();
        },
        Qt::QueuedConnection);
}

MessageBoxService::Answer QtMessageBox::show(const QString& text, const QString& title, Icon icon, Buttons buttons)
{
    QMessageBox box(m_parent);
    box.setText(text);
    box.setWindowTitle(title);
    box.setIcon(boxIcon(icon));
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default: // closed without a button: the safe answer
        return buttons == Buttons::YesNo ? Answer::No : buttons == Buttons::OkCancel ? Answer::Cancel : Answer::Ok;
    }
}
