#include "MqttEdit.h"

#include "FixedWindow.h"
#include "FormParts.h"
#include "MessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QVBoxLayout>

MqttEdit::MqttEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_inf(workDir)
{
    setObjectName(QStringLiteral("MqttEdit"));
    setWindowTitle(QStringLiteral("MQTT設定"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* frame = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("ブローカー"));
    auto* grid = new QGridLayout(frame);
    txtBroker = FormTextRow(grid, frame, QStringLiteral("txtBroker"), QStringLiteral("ブローカー (mqtt://ホスト:1883)"),
                            0, 280);
    txtCaFile = FormTextRow(grid, frame, QStringLiteral("txtCaFile"), QStringLiteral("CA証明書ファイル"), 1, 280);
    txtClientId = FormTextRow(grid, frame, QStringLiteral("txtClientId"), QStringLiteral("クライアントID"), 2, 280);
    txtUser = FormTextRow(grid, frame, QStringLiteral("txtUser"), QStringLiteral("ユーザー名"), 3, 280);
    txtPassWord = FormTextRow(grid, frame, QStringLiteral("txtPassWord"), QStringLiteral("パスワード"), 4, 280);
    txtPassWord->setEchoMode(QLineEdit::Password);
    txtTopicPrefix =
        FormTextRow(grid, frame, QStringLiteral("txtTopicPrefix"), QStringLiteral("トピックの接頭辞"), 5, 280);
    chkDiscovery = new QCheckBox(QStringLiteral("Home Assistant に自動登録する"), frame);
    chkDiscovery->setObjectName(QStringLiteral("chkDiscovery"));
    chkDiscovery->setAccessibleName(chkDiscovery->text());
    grid->addWidget(chkDiscovery, 6, 1);
    top->addWidget(frame);
    OKCmd = FormButton(this, QStringLiteral("OKCmd"), QStringLiteral("保存"));
    CancelCmd = FormButton(this, QStringLiteral("CancelCmd"), QStringLiteral("キャンセル"));
    top->addLayout(FormButtonRow({OKCmd}, {CancelCmd}));
    connect(OKCmd, &QPushButton::clicked, this, [this] { okClick(); });
    connect(CancelCmd, &QPushButton::clicked, this, &QDialog::reject);
    FixAndCentre(*this);

    // A file that does not load is reported once here; its fields start empty.
    Notify(m_messages, m_inf.load());
    const auto& s = m_inf.settings;
    txtBroker->setText(s.Broker);
    txtCaFile->setText(s.CaFile);
    txtClientId->setText(s.ClientId);
    txtUser->setText(s.User);
    txtPassWord->setText(s.PassWord);
    txtTopicPrefix->setText(s.TopicPrefix);
    chkDiscovery->setChecked(s.Discovery == 1);
}

void MqttEdit::okClick()
{
    auto& s = m_inf.settings;
    s.Broker = txtBroker->text().trimmed();
    s.CaFile = txtCaFile->text().trimmed();
    s.ClientId = txtClientId->text().trimmed();
    s.User = txtUser->text();
    s.PassWord = txtPassWord->text();
    s.TopicPrefix = txtTopicPrefix->text().trimmed();
    s.Discovery = chkDiscovery->isChecked() ? 1 : 0;
    const Outcome outcome = m_inf.save(m_messages);
    if (!outcome) {
        Notify(m_messages, outcome); // the window stays open to correct it
        return;
    }
    m_saved = true;
    accept();
}
