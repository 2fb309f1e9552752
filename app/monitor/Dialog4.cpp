#include "monitor/Dialog4.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "shared/Outcome.h"
#include "outside/PollEngine.h"
#include "shared/TableWords.h"
#include "monitor/UnitWork.h"
#include "shared/UnitEndpoint.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

Dialog4::Dialog4(MontComm1& comm, PollEngine& engine, QWidget* parent) : QDialog(parent), m_comm(comm), m_engine(engine)
{
    setObjectName(QStringLiteral("Dialog4"));
    setWindowTitle(QStringLiteral("IOPort設定"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto count = [&](const QString& name, const QString& label, int row) {
        auto* l = new QLabel(label, this);
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setReadOnly(true);
        e->setAlignment(Qt::AlignRight);
        e->setFixedWidth(DigitsWidth(*e, 4));
        e->setAccessibleName(label);
        l->setBuddy(e);
        grid->addWidget(l, row, 0);
        grid->addWidget(e, row, 1);
        return e;
    };
    Text1 = count(QStringLiteral("Text1"), QStringLiteral("設定装置数"), 0);
    Text2 = count(QStringLiteral("Text2"), QStringLiteral("モニタ設定数"), 1);
    grid->setColumnStretch(2, 1);
    top->addLayout(grid);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setMinimumWidth(280);
    ProgressBar1->setTextVisible(false);
    // hidden without giving up its place, so the window keeps its size
    QSizePolicy keep = ProgressBar1->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ProgressBar1->setSizePolicy(keep);
    ProgressBar1->setVisible(false);
    top->addWidget(ProgressBar1);
    OKButton = FormButton(this, QStringLiteral("OKButton"), QStringLiteral("開始"));
    CancelButton = FormButton(this, QStringLiteral("CancelButton"), QStringLiteral("終了"));
    top->addLayout(FormButtonRow({}, {OKButton, CancelButton}));
    connect(OKButton, &QPushButton::clicked, this, &Dialog4::okClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    FixAndCentre(*this);

    int monitored = 0;
    for (int i = 0; i < m_comm.sys().unitCount(); ++i)
        if (m_comm.sys().cell(i, ColControl) == TableWord::On)
            ++monitored;
    Text1->setText(QString::number(m_comm.sys().DeviceCount()));
    Text2->setText(QString::number(monitored));
}

void Dialog4::okClick()
{
    if (m_passing) {
        // "中止": the pass ends once the unit in progress is done; until then there is
        // nothing to start.
        m_stopRequested = true;
        OKButton->setText(QStringLiteral("開始"));
        OKButton->setEnabled(false);
        ProgressBar1->setVisible(false);
        return;
    }
    runPass();
}

void Dialog4::runPass()
{
    m_passing = true;
    m_stopRequested = false;
    m_handled = 0;
    m_cursor.set(true);
    CancelButton->setEnabled(false); // the dialog must not close under the pass
    Text1->setText(QString::number(m_comm.sys().DeviceCount()));
    Text2->setText(QStringLiteral("0"));
    OKButton->setText(QStringLiteral("中止"));
    ProgressBar1->setRange(0, std::max(0, int(m_comm.sys().DeviceCount())));
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(true);
    sendFrom(0);
}

// Walks the table from unit on (its size is read again at every step) up to the next monitored
// unit, whose setting then goes out; its answer continues the walk.
void Dialog4::sendFrom(int unit)
{
    for (int i = unit; i < m_comm.sys().unitCount() && !m_stopRequested; ++i) {
        if (m_comm.sys().cell(i, ColControl) == TableWord::On && m_comm.sys().SysInfValid()) {
            const DeviceRecord row = m_comm.sys().DeviceTable()[i];
            const int32_t timeOut = m_comm.sys().MonitorSettings().TimeOut;
            UnitEndpoint::onUnit<bool>(
                m_engine, row, this,
                [row, timeOut](DeviceLink& link) { return SysInf::OpenUnitLink(link, row, timeOut); },
                [this, i, name = row[ColName]](bool ok) { unitDone(i, name, ok); });
            return;
        }
        if (m_comm.sys().cell(i, ColControl) == TableWord::On)
            Text2->setText(QString::number(++m_handled)); // no table to send: nothing to fail
        ProgressBar1->setValue(i);
    }
    endPass();
}

void Dialog4::unitDone(int unit, const QString& name, bool ok)
{
    // A unit that does not answer is reported after this step; the pass does not wait for the box.
    if (!ok)
        Notify(m_comm.messages(), Failed(Fault::PortSetting, name));
    Text2->setText(QString::number(++m_handled));
    ProgressBar1->setValue(unit);
    sendFrom(unit + 1);
}

void Dialog4::endPass()
{
    OKButton->setText(QStringLiteral("開始"));
    OKButton->setEnabled(true);
    ProgressBar1->setVisible(false);
    CancelButton->setEnabled(true);
    m_cursor.set(false);
    m_passing = false;
}

void Dialog4::reject()
{
    if (!m_passing) // Escape and the close box wait for the pass
        QDialog::reject();
}

void Dialog4::closeEvent(QCloseEvent* event)
{
    if (m_passing)
        event->ignore();
    else
        QDialog::closeEvent(event);
}
