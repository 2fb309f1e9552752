#include "settings/ComEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ComEdit::ComEdit(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("ComEdit"));
    setWindowTitle(QStringLiteral("通信設定"));
    setModal(true);
    buildControls();
    FixAndCentre(*this);

    // Setting the combo item and the option runs their handlers, as a click would.
    const int16_t mode = m_comm.inet().InternetSettings().Mode;
    int item = -1;
    int option = -1;
    switch (mode) {
    case 0:
        item = 0;
        option = 0;
        break;
    case 1:
        item = 1;
        option = 0;
        break;
    case 2:
        item = 1;
        option = 1;
        break;
    case 3:
        item = 0;
        option = 1;
        break;
    default:
        break;
    }
    if (item >= 0) {
        ModeCombo->setCurrentIndex(item);
        modeComboClick();
        ModeOpt[option]->setChecked(true);
        modeOptClick(option);
    }
    if (mode == 2)
        txtFname->clear();
    else if (mode == 3)
        txtFname->setText(m_comm.inet().InternetSettings().SendFordername);
}

void ComEdit::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* frame = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("通信モード選択"));
    auto* row = new QHBoxLayout(frame);
    ModeOpt[0] = new QRadioButton(QStringLiteral("インターネット"), frame);
    ModeOpt[1] = new QRadioButton(QStringLiteral("ＬＡＮ"), frame);
    for (int i = 0; i < 2; ++i) {
        ModeOpt[i]->setObjectName(QStringLiteral("ModeOpt_%1").arg(i));
        row->addWidget(ModeOpt[i]);
    }
    ModeCombo = new QComboBox(frame);
    ModeCombo->setObjectName(QStringLiteral("ModeCombo"));
    ModeCombo->addItems({QStringLiteral("アップロード"), QStringLiteral("ダウンロード")});
    ModeCombo->setAccessibleName(QStringLiteral("アップロード／ダウンロード"));
    row->addSpacing(16);
    row->addWidget(ModeCombo);
    row->addStretch();
    top->addWidget(frame);

    lblFname = new QLabel(QStringLiteral("転送先コンピュータ名￥フォルダ名（モニタとして使用するときのみ設定）"
                                         "未設定時は通常モードとして動作します。"),
                          this);
    lblFname->setObjectName(QStringLiteral("lblFname"));
    lblFname->setWordWrap(true);
    lblFname->setMinimumWidth(420);
    top->addWidget(lblFname);
    txtFname = new QLineEdit(this);
    txtFname->setObjectName(QStringLiteral("txtFname"));
    txtFname->setAccessibleName(lblFname->text());
    lblFname->setBuddy(txtFname);
    top->addWidget(txtFname);

    InetCmd = FormButton(this, QStringLiteral("InetCmd"), QStringLiteral("インターネット設定"));
    EndCmd = FormButton(this, QStringLiteral("EndCmd"), QStringLiteral("終了"));
    MqttCmd = FormButton(this, QStringLiteral("MqttCmd"), QStringLiteral("MQTT設定"));
    WebCmd = FormButton(this, QStringLiteral("WebCmd"), QStringLiteral("Web設定"));
    top->addLayout(FormButtonRow({InetCmd, MqttCmd, WebCmd}, {EndCmd}));

    for (int i = 0; i < 2; ++i)
        connect(ModeOpt[i], &QRadioButton::clicked, this, [this, i] { modeOptClick(i); });
    connect(ModeCombo, &QComboBox::activated, this, [this] { modeComboClick(); });
    connect(EndCmd, &QPushButton::clicked, this, [this] {
        StoreCommMode();
        accept();
    });
    connect(InetCmd, &QPushButton::clicked, this, [this] {
        StoreCommMode();
        if (showInetSettings)
            showInetSettings(this);
    });
    connect(MqttCmd, &QPushButton::clicked, this, [this] {
        if (showMqttSettings)
            showMqttSettings(this);
    });
    connect(WebCmd, &QPushButton::clicked, this, [this] {
        if (showWebSettings)
            showWebSettings(this);
    });
}

void ComEdit::setFolderEnabled(bool enabled)
{
    lblFname->setEnabled(enabled);
    txtFname->setEnabled(enabled);
}

void ComEdit::modeOptClick(int index)
{
    if (index == 0) {
        InetCmd->setEnabled(true);
        setFolderEnabled(false);
        m_comm.inet().SetMode(int16_t(ModeCombo->currentIndex()));
    } else {
        m_comm.inet().SetMode(2);
        InetCmd->setEnabled(false);
        setFolderEnabled(true);
    }
}

void ComEdit::modeComboClick()
{
    setFolderEnabled(m_comm.inet().InternetSettings().Mode == 2);
    m_choice = int16_t(ModeCombo->currentIndex());
}

void ComEdit::StoreCommMode()
{
    auto inet = m_comm.inet().InternetSettings();
    inet.SendFordername = txtFname->text();
    const bool lan = inet.Mode != 0 && inet.Mode != 1;
    if (m_choice == 0)
        inet.Mode = lan ? 3 : 0;
    else if (m_choice == 1)
        inet.Mode = lan ? 2 : 1;
    m_comm.inet().Commit(inet);
    Notify(m_comm.messages(), m_comm.inet().SaveInetInf());
}
