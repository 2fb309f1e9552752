#include "shared/InetEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "shared/InetEditRules.h"
#include "platform/MessageBox.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

} // namespace

InetEdit::InetEdit(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("InetEdit"));
    setWindowTitle(QStringLiteral("インターネット設定"));
    setModal(true);
    buildControls();
    FixAndCentre(*this);

    const auto& s = m_comm.inet().InternetSettings();
    ftpText->setText(s.FTP);
    IdText->setText(s.ID);
    PwdText->setText(s.PassWord);
    RmtDirText->setText(s.RemoteDir);
    for (int k = 0; k < 4; ++k)
        camname[k]->setText(s.Camera[k]);
    URLText->setText(s.URL);
    m_timeOut = s.TimeOut;
    ShowTimeOut();
    const int count = m_comm.sys().unitCount();
    for (int i = 0; i < count; ++i)
        m_fileNames[i] = s.FileName[i];
    ProxyName->setText(s.ProxyServerName);
    ProxyPNo->setText(s.ProxyPortNo);
    for (QWidget* w :
         {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(lbldname), static_cast<QWidget*>(lbldusr),
          static_cast<QWidget*>(lbldpwd), static_cast<QWidget*>(frmDialUpUser), static_cast<QWidget*>(frmDialUpPass)})
        w->setEnabled(true);
    frmDialUpName->setText(s.DialUpName);
    frmDialUpUser->setText(s.DialUpUser);
    frmDialUpPass->setText(s.DialUpPass);

    for (int i = 0; i < count; ++i)
        DevName->addItem(m_comm.sys().cell(i, ColName));
    if (count > 0) {
        DevName->setCurrentIndex(0);
        FNameText->setText(m_fileNames[0]);
    }
}

void InetEdit::buildControls()
{
    auto* top = new QGridLayout(this);

    Frame1 = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("ダイアルアップ設定"));
    auto* dial = new QGridLayout(Frame1);
    frmDialUpName = FormTextRow(dial, Frame1, QStringLiteral("frmDialUpName"), QStringLiteral("ダイアルアップ名"), 0,
                                200, &lbldname);
    frmDialUpUser =
        FormTextRow(dial, Frame1, QStringLiteral("frmDialUpUser"), QStringLiteral("ユーザー名"), 1, 200, &lbldusr);
    frmDialUpPass =
        FormTextRow(dial, Frame1, QStringLiteral("frmDialUpPass"), QStringLiteral("パスワード"), 2, 200, &lbldpwd);
    lbldname->setObjectName(QStringLiteral("lbldname"));
    lbldusr->setObjectName(QStringLiteral("lbldusr"));
    lbldpwd->setObjectName(QStringLiteral("lbldpwd"));
    frmDialUpPass->setEchoMode(QLineEdit::Password);

    auto* proxy = FormFrame(this, QStringLiteral("ProxySet"), QStringLiteral("Proxyサーバー設定"));
    auto* proxyGrid = new QGridLayout(proxy);
    ProxyName = FormTextRow(proxyGrid, proxy, QStringLiteral("ProxyName"), QStringLiteral("Proxyサーバー名"), 0);
    ProxyPNo = FormTextRow(proxyGrid, proxy, QStringLiteral("ProxyPNo"), QStringLiteral("ポート番号"), 1);

    auto* param = FormFrame(this, QStringLiteral("ParamFrame"), QStringLiteral("パラメータファイル設定"));
    auto* paramGrid = new QGridLayout(param);
    auto* nameLabel = new QLabel(QStringLiteral("名称"), param);
    DevName = new QComboBox(param);
    DevName->setObjectName(QStringLiteral("DevName"));
    DevName->setAccessibleName(nameLabel->text());
    DevName->setMinimumWidth(200);
    nameLabel->setBuddy(DevName);
    paramGrid->addWidget(nameLabel, 0, 0);
    paramGrid->addWidget(DevName, 0, 1);
    FNameText = FormTextRow(paramGrid, param, QStringLiteral("FNameText"), QStringLiteral("ファイル名"), 1);

    auto* upload = FormFrame(this, QStringLiteral("UpLdFrame"), QStringLiteral("アップロード設定"));
    auto* upGrid = new QGridLayout(upload);
    ftpText = FormTextRow(upGrid, upload, QStringLiteral("ftpText"), QStringLiteral("FTP"), 0);
    IdText = FormTextRow(upGrid, upload, QStringLiteral("IdText"), QStringLiteral("ID"), 1);
    PwdText = FormTextRow(upGrid, upload, QStringLiteral("PwdText"), QStringLiteral("PassWord"), 2);
    PwdText->setEchoMode(QLineEdit::Password);
    RmtDirText = FormTextRow(upGrid, upload, QStringLiteral("RmtDirText"), QStringLiteral("Remote Dir"), 3);
    upGrid->addWidget(new QLabel(QStringLiteral("異常通知先リモートディレクトリ"), upload), 4, 0, 1, 2);
    const QStringList cameras = {QStringLiteral("カメラ１"), QStringLiteral("カメラ２"), QStringLiteral("カメラ３"),
                                 QStringLiteral("カメラ４")};
    for (int k = 0; k < 4; ++k)
        camname[k] = FormTextRow(upGrid, upload, QStringLiteral("camname_%1").arg(k), cameras[k], 5 + k);
    upGrid->setRowStretch(9, 1);

    auto* download = FormFrame(this, QStringLiteral("DldFrame"), QStringLiteral("ダウンロードﾞ設定"));
    auto* downGrid = new QGridLayout(download);
    URLText = FormTextRow(downGrid, download, QStringLiteral("URLText"), QStringLiteral("URL"), 0);
    downGrid->addWidget(new QLabel(QStringLiteral("（最後の\"/\"は入力しない）"), download), 1, 1);
    auto* timeFrame = FormFrame(download, QStringLiteral("TimeOutFrm"), QStringLiteral("ﾀｲﾑｱｳﾄ設定"));
    auto* timeRow = new QHBoxLayout(timeFrame);
    TimeComm = new QLineEdit(timeFrame);
    TimeComm->setObjectName(QStringLiteral("TimeComm"));
    TimeComm->setAccessibleName(timeFrame->title());
    TimeComm->setReadOnly(true); // the slider sets it
    TimeComm->setFixedWidth(DigitsWidth(*TimeComm, 7));
    Slider1 = new QSlider(Qt::Horizontal, timeFrame);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setAccessibleName(timeFrame->title());
    Slider1->setRange(1, 30);
    Slider1->setPageStep(5);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setMinimumWidth(180);
    timeRow->addWidget(TimeComm);
    timeRow->addWidget(new QLabel(QStringLiteral("1Min"), timeFrame));
    timeRow->addWidget(Slider1, 1);
    timeRow->addWidget(new QLabel(QStringLiteral("30Min"), timeFrame));
    downGrid->addWidget(timeFrame, 2, 0, 1, 2);

    SetCmd = FormButton(this, QStringLiteral("SetCmd"), QStringLiteral("設定保存"));
    EndCmd = FormButton(this, QStringLiteral("EndCmd"), QStringLiteral("終了"));
    auto* buttons = FormButtonRow({}, {SetCmd, EndCmd});

    top->addWidget(upload, 0, 0, 3, 1);
    top->addWidget(param, 0, 1);
    top->addWidget(download, 1, 1);
    top->addWidget(proxy, 2, 1);
    top->addWidget(Frame1, 3, 0);
    top->addLayout(buttons, 3, 1, Qt::AlignBottom);

    connect(Slider1, &QSlider::valueChanged, this, [this](int value) {
        if (value != m_timeOut) {
            m_timeOut = int16_t(value);
            ShowTimeOut();
        }
    });
    connect(DevName, &QComboBox::activated, this, [this](int i) {
        if (i >= 0 && i < int(m_fileNames.size()))
            FNameText->setText(m_fileNames[i]);
    });
    connect(FNameText, &QLineEdit::textChanged, this, [this](const QString& text) {
        const int i = DevName->currentIndex();
        if (i >= 0 && i < int(m_fileNames.size()))
            m_fileNames[i] = text;
    });
    connect(SetCmd, &QPushButton::clicked, this, [this] { StoreInetSettings(); });
    connect(EndCmd, &QPushButton::clicked, this, &InetEdit::endClick);
}

void InetEdit::ShowTimeOut()
{
    TimeComm->setText(InetEditRules::TimeOutText(m_timeOut));
    // a stored time-out beyond the slider's range stays as it is until the slider is moved
    const QSignalBlocker quiet(Slider1);
    Slider1->setValue(m_timeOut);
}

bool InetEdit::IsInetChanged() const
{
    const auto& s = m_comm.inet().InternetSettings();
    for (int k = 3; k >= 0; --k)
        if (camname[k]->text() != s.Camera[k])
            return true;
    if (frmDialUpPass->text() != s.DialUpPass || frmDialUpUser->text() != s.DialUpUser ||
        frmDialUpName->text() != s.DialUpName || ProxyPNo->text() != s.ProxyPortNo ||
        ProxyName->text() != s.ProxyServerName || URLText->text() != s.URL || RmtDirText->text() != s.RemoteDir ||
        PwdText->text() != s.PassWord || IdText->text() != s.ID || ftpText->text() != s.FTP)
        return true;
    if (m_timeOut != s.TimeOut)
        return true;
    for (int i = 0; i < m_comm.sys().unitCount(); ++i)
        if (m_fileNames[i] != s.FileName[i])
            return true;
    return false;
}

bool InetEdit::CheckFileNames()
{
    const auto failure = InetEditRules::CheckFileNames(m_fileNames, m_comm.sys().unitCount(), FNameText->text());
    if (failure)
        m_comm.messages().show(*failure, QStringLiteral("入力チェックエラー"), MessageBoxService::Icon::Exclamation,
                               MessageBoxService::Buttons::Ok);
    return !failure;
}

bool InetEdit::StoreInetSettings()
{
    if (!IsInetChanged())
        return true;
    if (!CheckFileNames())
        return false;
    if (!AskOkCancel(m_comm.messages(), QStringLiteral("変更してもよろしいですか？"), QStringLiteral("確認")))
        return false;
    using InetEditRules::TrimSpaces;
    auto s = m_comm.inet().InternetSettings();
    s.FTP = ftpText->text();
    s.ID = IdText->text();
    s.PassWord = PwdText->text();
    s.RemoteDir = RmtDirText->text();
    for (int k = 0; k < 4; ++k)
        s.Camera[k] = TrimSpaces(camname[k]->text());
    s.URL = URLText->text();
    for (int i = 0; i < m_comm.sys().unitCount(); ++i)
        s.FileName[i] = m_fileNames[i];
    s.TimeOut = m_timeOut;
    s.ProxyServerName = TrimSpaces(ProxyName->text());
    s.ProxyPortNo = TrimSpaces(ProxyPNo->text());
    s.DialUpName = TrimSpaces(frmDialUpName->text());
    s.DialUpUser = TrimSpaces(frmDialUpUser->text());
    s.DialUpPass = TrimSpaces(frmDialUpPass->text());
    m_comm.inet().Commit(s);
    Notify(m_comm.messages(), m_comm.inet().SaveInetInf());
    return true;
}

void InetEdit::endClick()
{
    if (!StoreInetSettings() &&
        !AskOkCancel(m_comm.messages(), QStringLiteral("終了してもよろしいですか？"), QStringLiteral("確認")))
        return;
    accept();
}
