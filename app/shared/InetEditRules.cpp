#include "shared/InetEditRules.h"

#include "platform/Conversions.h"

namespace InetEditRules {

std::optional<QString> CheckFileNames(const std::array<QString, UnitSlots>& names, int count, const QString& shown)
{
    count = std::clamp(count, 0, int(names.size()));
    for (int i = 1; i < count; ++i)
        for (int k = 0; k < i; ++k)
            if (!names[k].isEmpty() && names[k] == names[i])
                return QStringLiteral("ファイル名が重複しています");
    const QString invalid = QStringLiteral("ファイル名が不正です（英数半角８文字以内）");
    for (int i = 0; i < count; ++i)
        if (names[i].size() > 8)
            return invalid;
    for (QChar c : shown) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')))
            return invalid;
    }
    return std::nullopt;
}

QString TrimSpaces(const QString& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.mid(b, e - b);
}

QString TimeOutText(int minutes)
{
    return Conv::Str(minutes) + QStringLiteral(" Min");
}

} // namespace InetEditRules
