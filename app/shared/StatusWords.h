#pragma once
// Status words the per-unit dialogs and the detail slots show alike, written once.

#include <QString>

namespace StatusWord {
inline const QString CommError = QStringLiteral("通信ｴﾗｰ");
inline const QString Connected = QStringLiteral("接続中"); // a detail slot at work
inline const QString Disconnected = QStringLiteral("切断");
inline const QString Normal = QStringLiteral("正常"); // the detail dialog's good read
} // namespace StatusWord
