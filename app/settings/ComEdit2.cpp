#include "settings/ComEdit2.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ComEdit2::ComEdit2(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("ComEdit2"));
    setWindowTitle(QStringLiteral("通信設定"));
    setModal(true);

    auto* top = new QVBoxLayout(this);
    auto* frame = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("通信モード選択"));
    auto* column = new QVBoxLayout(frame);
    ModeOpt[0] = new QRadioButton(QStringLiteral("インターネット(ダウンロード)"), frame);
    ModeOpt[1] = new QRadioButton(QStringLiteral("ＬＡＮ"), frame);
    for (int i = 0; i < 2; ++i) {
        ModeOpt[i]->setObjectName(QStringLiteral("ModeOpt_%1").arg(i));
        column->addWidget(ModeOpt[i]);
        connect(ModeOpt[i], &QRadioButton::clicked, this, [this, i] { modeOptClick(i); });
    }
    top->addWidget(frame);
    InetCmd = FormButton(this, QStringLiteral("InetCmd"), QStringLiteral("インターネット設定"));
    EndCmd = FormButton(this, QStringLiteral("EndCmd"), QStringLiteral("終了"));
    MqttCmd = FormButton(this, QStringLiteral("MqttCmd"), QStringLiteral("MQTT設定"));
    WebCmd = FormButton(this, QStringLiteral("WebCmd"), QStringLiteral("Web設定"));
    top->addLayout(FormButtonRow({InetCmd, MqttCmd, WebCmd}, {EndCmd}));
    connect(EndCmd, &QPushButton::clicked, this, [this] {
        StoreCommMode();
        accept();
    });
    connect(InetCmd, &QPushButton::clicked, this, [this] {
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
    FixAndCentre(*this);

    m_choice = m_comm.inet().InternetSettings().Mode2;
    // A stored value that is neither option sets none; "終了" then keeps it.
    if (m_choice == 0 || m_choice == 1) {
        ModeOpt[m_choice]->setChecked(true);
        modeOptClick(m_choice);
    }
}

void ComEdit2::modeOptClick(int index)
{
    m_choice = int16_t(index);
    InetCmd->setEnabled(index == 0);
}

void ComEdit2::StoreCommMode()
{
    if (m_choice == m_comm.inet().InternetSettings().Mode2)
        return;
    auto inet = m_comm.inet().InternetSettings();
    inet.Mode2 = m_choice;
    m_comm.inet().Commit(inet);
    Notify(m_comm.messages(), m_comm.inet().SaveInetInf());
}
