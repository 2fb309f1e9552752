#include "Dialog4.h"

#include "DeviceLink.h"
#include "FixedWindow.h"
#include "MessageBox.h"
#include "RunWaiting.h"
#include "TableWords.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

Dialog4::Dialog4(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
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
    auto* buttons = new QHBoxLayout;
    OKButton = FormButton(this, QStringLiteral("OKButton"), QStringLiteral("開始"));
    CancelButton = FormButton(this, QStringLiteral("CancelButton"), QStringLiteral("終了"));
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    top->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, &Dialog4::okClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    FixAndCentre(*this);

    int monitored = 0;
    for (int i = 0; i < m_comm.unitCount(); ++i)
        if (m_comm.cell(i, ColControl) == TableWord::On)
            ++monitored;
    Text1->setText(QString::number(m_comm.DeviceCount));
    Text2->setText(QString::number(monitored));
}

void Dialog4::okClick()
{
    if (m_passing) {
        // "中止": the pass ends once the unit in progress is done.
        m_stopRequested = true;
        OKButton->setText(QStringLiteral("開始"));
        ProgressBar1->setVisible(false);
        return;
    }
    runPass();
}

void Dialog4::runPass()
{
    m_passing = true;
    m_stopRequested = false;
    CancelButton->setEnabled(false); // the dialog must not close under the pass
    Text1->setText(QString::number(m_comm.DeviceCount));
    Text2->setText(QStringLiteral("0"));
    int handled = 0;
    OKButton->setText(QStringLiteral("中止"));
    ProgressBar1->setRange(0, std::max(0, int(m_comm.DeviceCount)));
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(true);
    for (int i = 0; i < m_comm.unitCount() && !m_stopRequested; ++i) {
        if (m_comm.cell(i, ColControl) == TableWord::On && m_comm.CurLink) {
            DeviceLink* link = m_comm.CurLink;
            const bool ok = RunWaiting([&] { return m_comm.OpenUnitLink(*link, i); });
            if (!ok)
                m_comm.messages().show(m_comm.cell(i, ColName) +
                                           QStringLiteral("で通信異常が発生しました．\r\nｼｽﾃﾑ設定を確認して下さい．"),
                                       QStringLiteral("確認"), MessageBoxService::Icon::Exclamation,
                                       MessageBoxService::Buttons::Ok);
            ++handled;
            Text2->setText(QString::number(handled));
        }
        ProgressBar1->setValue(i);
        EventPump::run();
    }
    OKButton->setText(QStringLiteral("開始"));
    ProgressBar1->setVisible(false);
    CancelButton->setEnabled(true);
    m_passing = false;
}

void Dialog4::closeEvent(QCloseEvent* event)
{
    if (m_passing)
        event->ignore();
    else
        QDialog::closeEvent(event);
}
