#include "settings/WebEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

WebEdit::WebEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_inf(workDir)
{
    setObjectName(QStringLiteral("WebEdit"));
    setWindowTitle(QStringLiteral("Web設定"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* frame = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("ブラウザからの閲覧（表示のみ）"));
    auto* grid = new QGridLayout(frame);
    chkEnabled = FormCheckBox(frame, QStringLiteral("chkEnabled"), QStringLiteral("Web表示を使う"));
    grid->addWidget(chkEnabled, 0, 1);
    txtListen =
        FormTextRow(grid, frame, QStringLiteral("txtListen"), QStringLiteral("待ち受けアドレス:ポート"), 1, 280);
    txtListen->setPlaceholderText(WebSettings{}.Listen);
    txtPassWord = FormTextRow(grid, frame, QStringLiteral("txtPassWord"), QStringLiteral("閲覧パスワード"), 2, 280);
    txtPassWord->setEchoMode(QLineEdit::Password);
    chkNoPassWord = FormCheckBox(frame, QStringLiteral("chkNoPassWord"),
                                 QStringLiteral("パスワードを使わない（この画面の前の人だけが見る）"));
    grid->addWidget(chkNoPassWord, 3, 1);
    txtCertFile =
        FormTextRow(grid, frame, QStringLiteral("txtCertFile"), QStringLiteral("証明書ファイル (PEM)"), 4, 280);
    txtKeyFile = FormTextRow(grid, frame, QStringLiteral("txtKeyFile"), QStringLiteral("鍵ファイル (PEM)"), 5, 280);
    lblRule =
        new QLabel(QStringLiteral("ループバック (127.0.0.1) 以外で待ち受けるには、パスワードと証明書の両方が要ります。"
                                  "外から見るには docs/web.md の逆プロキシか VPN を使って下さい。"),
                   frame);
    lblRule->setObjectName(QStringLiteral("lblRule"));
    lblRule->setWordWrap(true);
    lblRule->setMaximumWidth(440);
    grid->addWidget(lblRule, 6, 0, 1, 2);
    top->addWidget(frame);
    OKCmd = FormButton(this, QStringLiteral("OKCmd"), QStringLiteral("保存"));
    CancelCmd = FormButton(this, QStringLiteral("CancelCmd"), QStringLiteral("キャンセル"));
    top->addLayout(FormButtonRow({OKCmd}, {CancelCmd}));
    connect(OKCmd, &QPushButton::clicked, this, [this] { okClick(); });
    connect(CancelCmd, &QPushButton::clicked, this, &QDialog::reject);
    connect(chkNoPassWord, &QCheckBox::toggled, this, [this](bool none) { txtPassWord->setEnabled(!none); });
    FixAndCentre(*this);

    Notify(m_messages, m_inf.load());
    const WebSettings& s = m_inf.settings;
    chkEnabled->setChecked(s.Enabled == 1);
    txtListen->setText(s.Listen);
    chkNoPassWord->setChecked(s.PassHash.isEmpty());
    txtPassWord->setPlaceholderText(s.PassHash.isEmpty() ? QString() : QStringLiteral("（変更しない）"));
    txtCertFile->setText(s.CertFile);
    txtKeyFile->setText(s.KeyFile);
}

void WebEdit::okClick()
{
    WebSettings s = m_inf.settings;
    s.Enabled = chkEnabled->isChecked() ? 1 : 0;
    s.Listen = txtListen->text().trimmed().isEmpty() ? WebSettings{}.Listen : txtListen->text().trimmed();
    s.CertFile = txtCertFile->text().trimmed();
    s.KeyFile = txtKeyFile->text().trimmed();
    if (chkNoPassWord->isChecked()) {
        s.PassHash.clear();
    } else if (!txtPassWord->text().isEmpty()) {
        s.PassHash = WebInf::HashPassword(txtPassWord->text());
    } else if (s.PassHash.isEmpty()) {
        Notify(m_messages, Failed(Fault::SettingsFile, QStringLiteral("閲覧パスワードを入力して下さい")));
        return;
    }
    m_inf.settings = s;
    const Outcome outcome = m_inf.save(m_messages);
    if (!outcome) {
        Notify(m_messages, outcome); // the window stays open to correct it
        return;
    }
    m_saved = true;
    accept();
}
