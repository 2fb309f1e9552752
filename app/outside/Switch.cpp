// A slide toggle drawn as a rounded track with a knob at the "入" or "切" end.

#include "outside/Switch.h"

#include <QPainter>

Switch::Switch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, [this] { emit Flipped(); });
}

void Switch::setForeColor(const QColor& color)
{
    if (color == m_foreColor)
        return;
    m_foreColor = color;
    update();
}

QSize Switch::sizeHint() const
{
    const int h = fontMetrics().height() + 8;
    return {fontMetrics().horizontalAdvance(QStringLiteral("切")) + h + 14, h};
}

void Switch::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    const bool on = isChecked();
    // On reads at a glance: a green track with the knob on the right, off a grey one with it on the left.
    p.setPen(QPen(palette().color(QPalette::Mid), 1));
    p.setBrush(on ? QColor(40, 150, 60) : QColor(150, 150, 150));
    p.drawRoundedRect(track, radius, radius);

    const qreal d = track.height() - 4;
    const QRectF knob(on ? track.right() - d - 2 : track.left() + 2, track.top() + 2, d, d);
    const QRectF label(on ? track.left() + 4 : knob.right() + 2, track.top(), track.width() - d - 8, track.height());
    p.setPen(Qt::white);
    p.drawText(label, Qt::AlignCenter, on ? QStringLiteral("入") : QStringLiteral("切"));

    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(m_foreColor);
    p.drawEllipse(knob);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
    }
}
