#pragma once
// Status words the per-unit dialogs and the detail slots show alike, written once.

#include <QString>

namespace StatusWord {
inline const QString CommError = QStringLiteral("通信ｴﾗｰ");
} // namespace StatusWord
