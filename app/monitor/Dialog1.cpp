#include "monitor/Dialog1.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "shared/Outcome.h"
#include "outside/PollEngine.h"
#include "shared/TableWords.h"
#include "monitor/UnitWork.h"
#include "shared/UnitEndpoint.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

Dialog1::Dialog1(MontComm1& comm, PollEngine& engine, int unit, QWidget* parent)
    : QDialog(parent)
    , m_comm(comm)
    , m_unit(unit)
    , m_engine(engine)
{
    setObjectName(QStringLiteral("Dialog1"));
    setWindowTitle(QStringLiteral("IOPort設定"));
    setModal(true);
    buildControls();
    FixAndCentre(*this);
    const int u = m_unit;
    if (u < 0 || u >= m_comm.sys().unitCount())
        return;
    showUnit();
    for (int k = 0; k < 4; ++k)
        Option1[2 * k + (m_comm.sys().cell(u, ColRA0 + k) == TableWord::Ain ? 1 : 0)]->setChecked(true);
    for (int k = 0; k < 8; ++k) {
        const QString& t = m_comm.sys().cell(u, ColRB0 + k);
        Option2[3 * k + (t == TableWord::Din ? 1 : t == TableWord::Dout ? 2 : 0)]->setChecked(true);
    }
    Option3[m_comm.sys().cell(u, ColControl) == TableWord::On ? 0 : 1]->setChecked(true);
}

void Dialog1::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* unit = new QGridLayout;
    auto shown = [&](const QString& name, const QString& label, int row) {
        QLineEdit* e = FormTextRow(unit, this, name, label, row);
        e->setReadOnly(true);
        return e;
    };
    Nametext = shown(QStringLiteral("Nametext"), QStringLiteral("名称"), 0);
    IPtext = shown(QStringLiteral("IPtext"), QStringLiteral("IPｱﾄﾞﾚｽ"), 1);
    auto* monitor = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("モニタ設定"));
    auto* monitorRow = new QHBoxLayout(monitor);
    Option3[0] = new QRadioButton(QStringLiteral("有効"), monitor);
    Option3[1] = new QRadioButton(QStringLiteral("無効"), monitor);
    for (int i = 0; i < 2; ++i) {
        Option3[i]->setObjectName(QStringLiteral("Option3_%1").arg(i));
        monitorRow->addWidget(Option3[i]);
    }
    auto* upper = new QHBoxLayout;
    upper->addLayout(unit);
    upper->addWidget(monitor);
    top->addLayout(upper);

    auto* pins = new QGroupBox(QStringLiteral("入出力タイプ設定"), this);
    pins->setObjectName(QStringLiteral("Frame2"));
    auto* row = new QHBoxLayout(pins);
    const QStringList rows = {QStringLiteral("non"), QStringLiteral("AnalogIn"), QStringLiteral("DigtalIn"),
                              QStringLiteral("DigtalOut")};
    // Every column has a head and four slots of one height, so the row labels line up with the options.
    const int slot = QRadioButton(QStringLiteral("X")).sizeHint().height() + 6;
    auto slotted = [&](QWidget* column, const QString& head) {
        auto* v = new QVBoxLayout(column);
        v->setContentsMargins(4, 0, 4, 0);
        v->setSpacing(0);
        auto* h = new QLabel(head, column);
        h->setAlignment(Qt::AlignHCenter);
        h->setFixedHeight(slot);
        v->addWidget(h);
        return v;
    };
    auto* labels = new QWidget(pins);
    auto* lv = slotted(labels, QString());
    for (const QString& r : rows) {
        auto* l = new QLabel(r, labels);
        l->setFixedHeight(slot);
        lv->addWidget(l);
    }
    row->addWidget(labels);
    // One column per pin, each its own widget so that its options exclude only each other.
    auto column = [&](const QString& pin, const QList<int>& used, auto& options, const QString& prefix, int first) {
        auto* holder = new QWidget(pins);
        holder->setObjectName(pin);
        holder->setAccessibleName(pin);
        auto* v = slotted(holder, pin);
        int j = 0;
        for (int r = 0; r < 4; ++r) {
            if (!used.contains(r)) {
                v->addSpacing(slot);
                continue;
            }
            auto* b = new QRadioButton(holder);
            b->setObjectName(QStringLiteral("%1_%2").arg(prefix).arg(first + j));
            b->setAccessibleName(pin + u' ' + rows[r]);
            b->setFixedHeight(slot);
            options[first + j] = b;
            v->addWidget(b, 0, Qt::AlignHCenter);
            ++j;
        }
        row->addWidget(holder);
    };
    for (int k = 0; k < 4; ++k)
        column(QStringLiteral("RA%1").arg(k), {0, 1}, Option1, QStringLiteral("Option1"), 2 * k);
    row->addSpacing(16);
    for (int k = 0; k < 8; ++k)
        column(QStringLiteral("RB%1").arg(k), {0, 2, 3}, Option2, QStringLiteral("Option2"), 3 * k);
    top->addWidget(pins);

    OKButton = FormButton(this, QStringLiteral("OKButton"), QStringLiteral("設定"));
    CancelButton = FormButton(this, QStringLiteral("CancelButton"), QStringLiteral("終了"));
    top->addLayout(FormButtonRow({}, {OKButton, CancelButton}));
    connect(OKButton, &QPushButton::clicked, this, &Dialog1::okClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void Dialog1::showUnit()
{
    const int u = m_unit;
    if (u < 0 || u >= m_comm.sys().unitCount())
        return;
    Nametext->setText(m_comm.sys().cell(u, ColName));
    IPtext->setText(m_comm.sys().cell(u, ColIP));
}

void Dialog1::okClick()
{
    const int u = m_unit;
    if (u < 0 || u >= m_comm.sys().unitCount() || m_sending)
        return;
    showUnit();
    for (int k = 0; k < 4; ++k)
        m_comm.sys().SetCell(u, ColRA0 + k, Option1[2 * k + 1]->isChecked() ? TableWord::Ain : TableWord::Non);
    for (int k = 0; k < 8; ++k)
        m_comm.sys().SetCell(u, ColRB0 + k,
                             Option2[3 * k + 1]->isChecked()   ? TableWord::Din
                             : Option2[3 * k + 2]->isChecked() ? TableWord::Dout
                                                               : TableWord::Non);
    m_comm.sys().SetCell(u, ColControl, Option3[0]->isChecked() ? TableWord::On : TableWord::Off);
    Notify(m_comm.messages(), m_comm.sys().SaveSysInf());
    // A table that did not load is never sent to a unit.
    if (m_comm.inet().InternetSettings().Mode2 != 1 || !m_comm.sys().SysInfValid())
        return;

    // The exchange runs on the unit's lane; until it reports, "設定" is off. Closing the dialog
    // cancels it there (the unit's time-out may be minutes), and its answer then changes nothing.
    const QString caption = OKButton->text();
    OKButton->setText(QStringLiteral("通信中"));
    OKButton->setEnabled(false);
    m_sending = true;
    m_cursor.set(true);
    const DeviceRecord row = m_comm.sys().DeviceTable()[u];
    m_sendKey = SysInf::UnitKey(row);
    const int32_t timeOut = m_comm.sys().MonitorSettings().TimeOut;
    UnitEndpoint::onUnit<bool>(
        m_engine, row, this, [row, timeOut](DeviceLink& link) { return SysInf::OpenUnitLink(link, row, timeOut); },
        [this, caption](bool ok) { sent(ok, caption); });
}

void Dialog1::sent(bool ok, const QString& caption)
{
    if (m_abandoned)
        return;
    m_sending = false;
    m_cursor.set(false);
    OKButton->setEnabled(true);
    CancelButton->setEnabled(true);
    OKButton->setText(caption);
    if (!ok)
        Notify(m_comm.messages(), Failed(Fault::LinkError));
}

void Dialog1::abandonSend()
{
    if (!m_sending)
        return;
    m_sending = false;
    m_abandoned = true;
    m_cursor.set(false);
    m_engine.cancel(m_sendKey);
}

void Dialog1::reject()
{
    abandonSend();
    QDialog::reject();
}

void Dialog1::closeEvent(QCloseEvent* event)
{
    abandonSend();
    QDialog::closeEvent(event);
}
