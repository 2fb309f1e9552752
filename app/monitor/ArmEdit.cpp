#include "monitor/ArmEdit.h"

#include "platform/Conversions.h"
#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"
#include "shared/TableWords.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace ArmEditRules {

std::optional<QString> BuildArmString(const MontComm1& comm, int unit, bool on, int kindIndex, int pin,
                                      int conditionIndex)
{
    if (!on)
        return TableWord::Non;
    QString text;
    if (kindIndex != 0) {
        if (pin < 0 || pin > 7)
            return std::nullopt;
        const int16_t type = comm.sys().GetPinType(unit, 6, pin);
        if (type != 0 && type != 1)
            return std::nullopt;
        text = QStringLiteral("Din:");
    } else {
        if (pin < 0 || pin > 3 || comm.sys().GetPinType(unit, 5, pin) != 2)
            return std::nullopt;
        text = QStringLiteral("Ain:");
    }
    if (conditionIndex != 0 && conditionIndex != 1)
        return std::nullopt;
    // The stored form: the pin as Str writes it, with a space before a number that is not
    // negative ("Ain: 2:High").
    return text + Conv::Str(pin) + u':' + (conditionIndex == 0 ? TableWord::High : TableWord::Low);
}

bool SameArm(const QString& a, const QString& b)
{
    // By their parts: "Ain:2:High" read from a file is the alarm "Ain: 2:High" writes.
    const auto parts = [](const QString& arm) {
        QStringList p = arm.split(u':');
        for (QString& s : p)
            s = s.trimmed();
        if (p.size() == 3)
            if (const auto pin = Conv::StrictInt16(p[1]))
                p[1] = QString::number(*pin);
        return p;
    };
    return parts(a) == parts(b);
}

} // namespace ArmEditRules

ArmEdit::ArmEdit(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("ArmEdit"));
    setWindowTitle(QStringLiteral("アラーム設定"));
    setModal(true);
    buildControls();
    Frame4->setVisible(false);
    Frame1->setVisible(false);
    FixAndCentre(*this);

    showRetry();
    for (int i = 0; i < m_comm.sys().unitCount(); ++i)
        DevName->addItem(m_comm.sys().cell(i, ColName));
    if (m_comm.sys().unitCount() > 0) {
        DevName->setCurrentIndex(0);
        selectUnit(0);
    }
}

void ArmEdit::buildControls()
{
    auto* top = new QVBoxLayout(this);
    Frame2 = new QGroupBox(QStringLiteral("アラーム詳細設定"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->installEventFilter(this);
    auto* grid = new QGridLayout(Frame2);
    auto* nameLabel = new QLabel(QStringLiteral("名称"), Frame2);
    DevName = new QComboBox(Frame2);
    DevName->setObjectName(QStringLiteral("DevName"));
    DevName->setAccessibleName(nameLabel->text());
    DevName->setMinimumWidth(200);
    nameLabel->setBuddy(DevName);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(DevName, 0, 1);

    auto* frame7 = FormFrame(Frame2, QStringLiteral("Frame7"), QStringLiteral("アラーム設定"));
    auto* optionRow = new QHBoxLayout(frame7);
    Option3[0] = new QRadioButton(QStringLiteral("有効"), frame7);
    Option3[1] = new QRadioButton(QStringLiteral("無効"), frame7);
    for (int i = 0; i < 2; ++i) {
        Option3[i]->setObjectName(QStringLiteral("Option3_%1").arg(i));
        optionRow->addWidget(Option3[i]);
        connect(Option3[i], &QRadioButton::clicked, this, &ArmEdit::optionClick);
    }
    optionRow->addStretch();
    grid->addWidget(frame7, 1, 0, 1, 2);

    auto combo = [&](const QString& name, const QString& label, const QStringList& items, int row) {
        auto* l = new QLabel(label, Frame2);
        auto* c = new QComboBox(Frame2);
        c->setObjectName(name);
        c->addItems(items);
        c->setAccessibleName(label);
        l->setBuddy(c);
        grid->addWidget(l, row, 0);
        grid->addWidget(c, row, 1);
        return c;
    };
    Combo2 = combo(QStringLiteral("Combo2"), QStringLiteral("検出ポート選択"),
                   {QStringLiteral("ｱﾅﾛｸﾞ入力"), QStringLiteral("ﾃﾞｼﾞﾀﾙ入力")}, 2);
    QStringList pins;
    for (int p = 0; p < 8; ++p)
        pins << QStringLiteral("RB%1").arg(p);
    Combo3 = combo(QStringLiteral("Combo3"), QStringLiteral("検出ﾋﾟﾝ番号選択"), pins, 3);
    Combo4 = combo(QStringLiteral("Combo4"), QStringLiteral("検出条件選択"),
                   {QStringLiteral("High"), QStringLiteral("Low")}, 4);
    top->addWidget(Frame2);

    auto retryFrame = [&](const QString& name, const QString& caption, QLineEdit*& box, const QString& boxName,
                          QSlider*& slider, const QString& sliderName) {
        auto* f = new QGroupBox(caption, this);
        f->setObjectName(name);
        auto* row = new QHBoxLayout(f);
        box = new QLineEdit(f);
        box->setObjectName(boxName);
        box->setReadOnly(true); // the slider sets it
        box->setFixedWidth(DigitsWidth(*box, 6));
        box->setAccessibleName(caption);
        slider = new QSlider(Qt::Horizontal, f);
        slider->setObjectName(sliderName);
        slider->setRange(1, 10);
        slider->setPageStep(1);
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setAccessibleName(caption);
        row->addWidget(box);
        row->addWidget(new QLabel(QStringLiteral("1"), f));
        row->addWidget(slider, 1);
        row->addWidget(new QLabel(QStringLiteral("10"), f));
        top->addWidget(f);
        return f;
    };
    Frame4 = retryFrame(QStringLiteral("Frame4"), QStringLiteral("リトライ周期設定"), Recycl, QStringLiteral("Recycl"),
                        Slider1, QStringLiteral("Slider1"));
    Frame1 = retryFrame(QStringLiteral("Frame1"), QStringLiteral("リトライ回数設定"), Recount,
                        QStringLiteral("Recount"), Slider2, QStringLiteral("Slider2"));

    Command1 = FormButton(this, QStringLiteral("Command1"), QStringLiteral("設定"));
    Command2 = FormButton(this, QStringLiteral("Command2"), QStringLiteral("終了"));
    top->addLayout(FormButtonRow({}, {Command1, Command2}));

    connect(DevName, &QComboBox::activated, this, &ArmEdit::selectUnit);
    connect(Slider1, &QSlider::valueChanged, this, [this](int v) {
        if (v != m_comm.sys().MonitorSettings().ReloadCycl) {
            auto settings = m_comm.sys().MonitorSettings();
            settings.ReloadCycl = int16_t(v);
            m_comm.sys().SetMonitorSettings(settings);
            showRetry();
            m_dirty = true;
        }
    });
    connect(Slider2, &QSlider::valueChanged, this, [this](int v) {
        if (v != m_comm.sys().MonitorSettings().ReloadSize) {
            auto settings = m_comm.sys().MonitorSettings();
            settings.ReloadSize = int16_t(v);
            m_comm.sys().SetMonitorSettings(settings);
            showRetry();
            m_dirty = true;
        }
    });
    connect(Command1, &QPushButton::clicked, this, &ArmEdit::setClick);
    connect(Command2, &QPushButton::clicked, this, &ArmEdit::endClick);
}

void ArmEdit::showRetry()
{
    const auto& ms = m_comm.sys().MonitorSettings();
    Recycl->setText(Conv::Str(ms.ReloadCycl) + QStringLiteral("Sec"));
    Recount->setText(Conv::Str(ms.ReloadSize));
    const QSignalBlocker quiet1(Slider1);
    const QSignalBlocker quiet2(Slider2);
    Slider1->setValue(ms.ReloadCycl);
    Slider2->setValue(ms.ReloadSize);
}

void ArmEdit::selectUnit(int index)
{
    if (index < 0 || index >= m_comm.sys().unitCount())
        return;
    m_unit = index;
    m_armString = m_comm.sys().cell(index, ColArm);
    Option3[m_armString != TableWord::Non ? 0 : 1]->setChecked(true);
    optionClick();
}

void ArmEdit::optionClick()
{
    const bool on = Option3[0]->isChecked();
    Combo2->setEnabled(on);
    Combo3->setEnabled(on);
    Combo4->setEnabled(on);
    const int unit = DevName->currentIndex();
    if (unit < 0 || unit >= m_comm.sys().unitCount())
        return;
    m_unit = unit;
    Combo2->setCurrentIndex(1);
    Combo3->setCurrentIndex(0);
    Combo4->setCurrentIndex(0);
    if (!on)
        return;
    Combo2->setCurrentIndex(m_comm.sys().GetArmField(unit, 0) == TableWord::Ain ? 0 : 1);
    const QString pin = m_comm.sys().GetArmField(unit, 1);
    if (pin != TableWord::Non) {
        const auto p = Conv::CInt16(Conv::Val(pin));
        if (p && *p >= 0 && *p < Combo3->count())
            Combo3->setCurrentIndex(*p);
    }
    // "以上", "以下" and "以上・以下" were never written by this window: like any other word they show as "High".
    Combo4->setCurrentIndex(m_comm.sys().GetArmField(unit, 2) == TableWord::Low ? 1 : 0);
}

bool ArmEdit::ask()
{
    return AskOkCancel(m_comm.messages(), QStringLiteral("変更してもよろしいですか？"), QStringLiteral("確認"));
}

void ArmEdit::setClick()
{
    const int unit = m_unit;
    if (unit < 0 || unit >= m_comm.sys().unitCount())
        return; // no unit registered
    const auto arm = ArmEditRules::BuildArmString(m_comm, unit, Option3[0]->isChecked(), Combo2->currentIndex(),
                                                  Combo3->currentIndex(), Combo4->currentIndex());
    if (!arm) {
        // The retry settings stay pending: a refused pin must not drop a slider change from the file.
        m_comm.messages().show(QStringLiteral("入力ピン番号が無効です．"), QStringLiteral("確認"),
                               MessageBoxService::Icon::Exclamation, MessageBoxService::Buttons::Ok);
        return;
    }
    if ((!ArmEditRules::SameArm(*arm, m_armString) || m_dirty) && ask()) {
        m_comm.sys().SetCell(unit, ColArm, *arm);
        Notify(m_comm.messages(), m_comm.sys().SaveSysInf());
        m_dirty = false;
    }
}

void ArmEdit::endClick()
{
    if (m_dirty) {
        if (!ask())
            return;
        Notify(m_comm.messages(), m_comm.sys().SaveSysInf());
        m_dirty = false;
    }
    accept();
}

bool ArmEdit::retryShown() const
{
    return !Frame4->isHidden();
}

void ArmEdit::ToggleRetrySection()
{
    const bool show = !retryShown();
    Frame4->setVisible(show);
    Frame1->setVisible(show);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    layout()->activate();
    setFixedSize(width(), sizeHint().height());
}

void ArmEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    ToggleRetrySection();
    QDialog::mouseDoubleClickEvent(event);
}

bool ArmEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Frame2 && event->type() == QEvent::MouseButtonDblClick) {
        ToggleRetrySection();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
