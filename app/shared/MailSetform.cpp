#include "shared/MailSetform.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "shared/InetEditRules.h"
#include "platform/MessageBox.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

MailSetform::MailSetform(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("MailSetform"));
    setWindowTitle(QStringLiteral("メール設定"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* frame = new QGroupBox(QStringLiteral("送信メール設定"), this);
    frame->setObjectName(QStringLiteral("MailSET"));
    auto* grid = new QGridLayout(frame);
    auto row = [&](const QString& name, const QString& label, int r) {
        return FormTextRow(grid, frame, name, label, r, 320);
    };
    SMTPName = row(QStringLiteral("SMTPName"), QStringLiteral("SMTPサーバ名"), 0);
    SendName = row(QStringLiteral("SendName"), QStringLiteral("送信者アドレス"), 1);
    Mailheader = row(QStringLiteral("Mailheader"), QStringLiteral("表題"), 2);
    Honbun = row(QStringLiteral("Honbun"), QStringLiteral("送信メッセージ"), 3);
    top->addWidget(frame);
    SetCmd = FormButton(this, QStringLiteral("SetCmd"), QStringLiteral("設定保存"));
    EndCmd = FormButton(this, QStringLiteral("EndCmd"), QStringLiteral("終了"));
    top->addLayout(FormButtonRow({}, {SetCmd, EndCmd}));
    connect(SetCmd, &QPushButton::clicked, this, &MailSetform::setClick);
    connect(EndCmd, &QPushButton::clicked, this, &QDialog::reject);
    FixAndCentre(*this);

    const auto& s = m_comm.inet().InternetSettings();
    SMTPName->setText(s.SMTPServerName);
    SendName->setText(s.SendMailName);
    Mailheader->setText(s.MailHeader);
    Honbun->setText(s.MailBody);
}

void MailSetform::setClick()
{
    if (AskOkCancel(m_comm.messages(), QStringLiteral("変更してもよろしいですか？"), QStringLiteral("確認"))) {
        using InetEditRules::TrimSpaces;
        auto s = m_comm.inet().InternetSettings();
        s.SMTPServerName = TrimSpaces(SMTPName->text());
        s.SendMailName = TrimSpaces(SendName->text());
        s.MailHeader = TrimSpaces(Mailheader->text());
        s.MailBody = TrimSpaces(Honbun->text());
        m_comm.inet().Commit(s);
        Notify(m_comm.messages(), m_comm.inet().SaveInetInf());
    }
    accept();
}
