#pragma once
// The switch control of the detail windows: a slide toggle with a Boolean value and a
// foreground colour (the knob). Flipped is raised only when the operator flips it, after
// the value has changed; setting the value from the program raises nothing.

#include <QAbstractButton>
#include <QColor>

class Switch : public QAbstractButton {
    Q_OBJECT
public:
    explicit Switch(QWidget* parent = nullptr);

    bool Value() const { return isChecked(); }
    void setValue(bool on) { setChecked(on); }
    QColor ForeColor() const { return m_foreColor; }
    void setForeColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void Flipped();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_foreColor = Qt::white;
};
