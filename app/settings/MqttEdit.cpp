#include "settings/MqttEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"
#include "shared/MqttFeed.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <thread>

MqttEdit::MqttEdit(const QString& workDir, MessageBoxService& messages, QWidget* parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_workDir(workDir)
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
    chkDiscovery = FormCheckBox(frame, QStringLiteral("chkDiscovery"), QStringLiteral("Home Assistant に自動登録する"));
    // Empty is allowed: the prefix the station then uses.
    txtTopicPrefix->setPlaceholderText(MqttInf::topicPrefix(MqttSettings{}));
    grid->addWidget(chkDiscovery, 6, 1);
    TestCmd = FormButton(frame, QStringLiteral("TestCmd"), QStringLiteral("接続テスト"));
    TestResult = new QLabel(frame);
    TestResult->setObjectName(QStringLiteral("TestResult"));
    TestResult->setWordWrap(true);
    TestResult->setMinimumWidth(280);
    grid->addWidget(TestCmd, 7, 0);
    grid->addWidget(TestResult, 7, 1);
    top->addWidget(frame);
    OKCmd = FormButton(this, QStringLiteral("OKCmd"), QStringLiteral("保存"));
    CancelCmd = FormButton(this, QStringLiteral("CancelCmd"), QStringLiteral("キャンセル"));
    top->addLayout(FormButtonRow({OKCmd}, {CancelCmd}));
    connect(OKCmd, &QPushButton::clicked, this, [this] { okClick(); });
    connect(CancelCmd, &QPushButton::clicked, this, &QDialog::reject);
    connect(TestCmd, &QPushButton::clicked, this, [this] { testClick(); });
    m_testTimer.setSingleShot(true);
    m_testTimer.setInterval(TestLimitMs);
    connect(&m_testTimer, &QTimer::timeout, this, [this] {
        // A name that takes longer to resolve than the limit ends here; its answer is ignored.
        testDone(m_testAttempt, MqttLinkState{false, MqttFault::NoAnswer, 0});
    });
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

MqttSettings MqttEdit::fields() const
{
    MqttSettings s;
    s.Broker = txtBroker->text().trimmed();
    s.CaFile = txtCaFile->text().trimmed();
    s.ClientId = txtClientId->text().trimmed();
    s.User = txtUser->text();
    s.PassWord = txtPassWord->text();
    s.TopicPrefix = txtTopicPrefix->text().trimmed();
    s.Discovery = chkDiscovery->isChecked() ? 1 : 0;
    return s;
}

void MqttEdit::okClick()
{
    m_inf.settings = fields();
    const Outcome outcome = m_inf.save(m_messages);
    if (!outcome) {
        Notify(m_messages, outcome); // the window stays open to correct it
        return;
    }
    m_saved = true;
    accept();
}

void MqttEdit::testClick()
{
    const MqttSettings s = fields();
    QString wrong = MqttInf::checkSettings(s);
    if (wrong.isEmpty() && s.Broker.isEmpty())
        wrong = QStringLiteral("ブローカーを入力してください");
    if (!wrong.isEmpty()) {
        TestResult->setText(wrong);
        return;
    }
    const MqttEndpoint endpoint = MqttFeed::Endpoint(s, m_workDir);
    const int attempt = ++m_testAttempt;
    m_testOut = true;
    TestCmd->setEnabled(false);
    TestResult->setText(QStringLiteral("接続テスト中…"));
    m_testTimer.start();
    // Detached, not joined: a host name that does not resolve may hold the thread past the
    // limit, and neither the window nor the station's end waits for it.
    QPointer<MqttEdit> self(this);
    // The probe ends a little before the window's limit, so its own reason is the one shown.
    const int limit = m_testTimer.interval();
    std::thread([self, endpoint, attempt, limit] {
        const MqttLinkState state = ProbeMqtt(endpoint, std::chrono::milliseconds(limit - std::min(500, limit / 10)));
        QMetaObject::invokeMethod(
            qApp,
            [self, attempt, state] {
                if (self)
                    self->testDone(attempt, state);
            },
            Qt::QueuedConnection);
    }).detach();
}

void MqttEdit::testDone(int attempt, const MqttLinkState& state)
{
    if (attempt != m_testAttempt || !m_testOut)
        return; // a test already ended by the limit, or one before the last
    m_testOut = false;
    m_testTimer.stop();
    TestCmd->setEnabled(true);
    TestResult->setText(state.connected ? QStringLiteral("接続できました")
                                        : QStringLiteral("接続できません：") + MqttFeed::FaultText(state));
}
