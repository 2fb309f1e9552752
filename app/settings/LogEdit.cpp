#include "settings/LogEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

LogEdit::LogEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_inf(workDir)
{
    setObjectName(QStringLiteral("LogEdit"));
    setWindowTitle(QStringLiteral("ログ保存設定"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* frame = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("データログ"));
    auto* grid = new QGridLayout(frame);
    chkArchive = FormCheckBox(frame, QStringLiteral("chkArchive"), QStringLiteral("月ごとに圧縮して保存する"));
    grid->addWidget(chkArchive, 0, 0, 1, 2);
    const QString keepLabel = QStringLiteral("保存する月数（0：無期限）");
    auto* label = new QLabel(keepLabel, frame);
    txtKeepMonths = new QSpinBox(frame);
    txtKeepMonths->setObjectName(QStringLiteral("txtKeepMonths"));
    txtKeepMonths->setAccessibleName(keepLabel);
    txtKeepMonths->setRange(0, 1200);
    label->setBuddy(txtKeepMonths);
    grid->addWidget(label, 1, 0);
    grid->addWidget(txtKeepMonths, 1, 1);
    auto* note = new QLabel(
        QStringLiteral("圧縮した月は DataFileNNN_YYYYMM.csv.zst に移り、トレンドはそのまま読めます。"), frame);
    note->setWordWrap(true);
    grid->addWidget(note, 2, 0, 1, 2);
    top->addWidget(frame);
    OKCmd = FormButton(this, QStringLiteral("OKCmd"), QStringLiteral("保存"));
    CancelCmd = FormButton(this, QStringLiteral("CancelCmd"), QStringLiteral("キャンセル"));
    top->addLayout(FormButtonRow({OKCmd}, {CancelCmd}));
    connect(OKCmd, &QPushButton::clicked, this, [this] { okClick(); });
    connect(CancelCmd, &QPushButton::clicked, this, &QDialog::reject);
    connect(chkArchive, &QCheckBox::toggled, txtKeepMonths, &QWidget::setEnabled);
    FixAndCentre(*this);

    Notify(m_messages, m_inf.load());
    chkArchive->setChecked(m_inf.settings.Archive == 1);
    txtKeepMonths->setValue(m_inf.settings.KeepMonths);
    txtKeepMonths->setEnabled(chkArchive->isChecked());
}

void LogEdit::okClick()
{
    m_inf.settings.Archive = chkArchive->isChecked() ? 1 : 0;
    m_inf.settings.KeepMonths = txtKeepMonths->value();
    const Outcome outcome = m_inf.save(m_messages);
    if (!outcome) {
        Notify(m_messages, outcome);
        return;
    }
    m_saved = true;
    accept();
}
