#include "shared/Outcome.h"

#include "platform/DialUpBackend.h"

QString FaultText(const Outcome& o)
{
    switch (o.fault) {
    case Fault::None:
    case Fault::Cancelled:
    case Fault::NotLoaded:
        return QString();
    case Fault::AddressBook:
    case Fault::MailSend:
    case Fault::SettingsFile:
        return o.detail;
    case Fault::NoSmtpControl:
        return QStringLiteral("SMTPコントロールがありません");
    case Fault::DialUp:
        return DialUpError::text(o.code);
    case Fault::RelayDialUp:
        return QStringLiteral("ダイアルアップ接続に失敗しました");
    case Fault::FileOpen:
        return QStringLiteral("設定リストが作成できませんでした");
    case Fault::LinkError:
        return QStringLiteral("通信エラーが発生しました．");
    case Fault::Upload:
        return QStringLiteral(" アップロード出来ません！ ");
    case Fault::LocalFile:
        return QStringLiteral("ローカルファイル作成エラー");
    case Fault::OutputPending:
        return QStringLiteral("前の出力処理が完了していません");
    case Fault::PortSetting:
        return o.detail + QStringLiteral("で通信異常が発生しました．\r\nｼｽﾃﾑ設定を確認して下さい．");
    }
    return QString();
}

QString FaultTitle(const Outcome& o)
{
    switch (o.fault) {
    case Fault::FileOpen:
        return QStringLiteral("ファイルオープンエラー");
    case Fault::LinkError:
    case Fault::PortSetting:
        return QStringLiteral("確認");
    case Fault::RelayDialUp:
        return QStringLiteral("ダウンロード");
    case Fault::Upload:
        return o.detail;
    default:
        return MessageBoxService::applicationTitle();
    }
}

MessageBoxService::Icon FaultIcon(const Outcome& o)
{
    switch (o.fault) {
    case Fault::AddressBook:
    case Fault::MailSend:
    case Fault::SettingsFile:
    case Fault::RelayDialUp:
    case Fault::NoSmtpControl:
    case Fault::DialUp:
        return MessageBoxService::Icon::None;
    default:
        return MessageBoxService::Icon::Exclamation;
    }
}

void Notify(MessageBoxService& messages, const Outcome& o)
{
    if (o.ok() && !o.notice.isEmpty())
        messages.notify(o.notice, MessageBoxService::applicationTitle(), MessageBoxService::Icon::Information);
    if (o.ok() || o.fault == Fault::Cancelled || o.fault == Fault::NotLoaded)
        return;
    messages.notify(FaultText(o), FaultTitle(o), FaultIcon(o));
}
