#include "platform/Conversions.h"

#include <cmath>
#include <limits>

namespace Conv {

double RoundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

double Val(const QString& text)
{
    const QString t = text.toLower();
    qsizetype i = 0;
    const qsizetype n = t.size();
    auto skipBlanks = [&] {
        while (i < n && (t[i] == u' ' || t[i] == u'\t' || t[i] == u'\n' || t[i] == u'\r'))
            ++i;
    };
    skipBlanks();
    // "&h1f" and "&o17" are read as hexadecimal and octal, as the stored files may hold them
    if (i + 1 < n && t[i] == u'&' && (t[i + 1] == u'h' || t[i + 1] == u'o')) {
        const int base = t[i + 1] == u'h' ? 16 : 8;
        qint64 v = 0;
        bool any = false;
        for (i += 2; i < n && v <= 0xFFFFFFFFLL; ++i) {
            const char16_t c = t[i].unicode();
            const int d = (c >= u'0' && c <= u'9') ? c - u'0' : (c >= u'a' && c <= u'f') ? c - u'a' + 10 : 99;
            if (d >= base)
                break;
            v = v * base + d;
            any = true;
        }
        return any ? double(v) : 0.0;
    }
    QString number;
    if (i < n && (t[i] == u'-' || t[i] == u'+'))
        number += t[i++];
    bool digits = false;
    while (i < n && t[i] >= u'0' && t[i] <= u'9') {
        number += t[i++];
        digits = true;
    }
    if (i < n && t[i] == u'.') {
        number += t[i++];
        while (i < n && t[i] >= u'0' && t[i] <= u'9') {
            number += t[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    if (i < n && (t[i] == u'e' || t[i] == u'd')) {
        qsizetype j = i + 1;
        QString exp = QStringLiteral("e");
        if (j < n && (t[j] == u'-' || t[j] == u'+'))
            exp += t[j++];
        bool expDigits = false;
        while (j < n && t[j] >= u'0' && t[j] <= u'9') {
            exp += t[j++];
            expDigits = true;
        }
        if (expDigits)
            number += exp;
    }
    bool ok = false;
    const double v = number.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

std::optional<double> StrictNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (QChar c : t) {
        // toDouble accepts "inf" and "nan"; a stored number never holds them
        if (!(c.isDigit() || c == u'.' || c == u'-' || c == u'+' || c == u'e' || c == u'E'))
            return std::nullopt;
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int16_t> CInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = RoundHalfEven(value);
    if (r < std::numeric_limits<int16_t>::min() || r > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return static_cast<int16_t>(r);
}

std::optional<int32_t> CInt32(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = RoundHalfEven(value);
    if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(r);
}

QString PlainNumber(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}

QString Str(double value)
{
    const QString digits = PlainNumber(value);
    return value >= 0 ? QStringLiteral(" ") + digits : digits;
}

std::optional<int16_t> StrictInt16(const QString& text)
{
    const auto v = StrictNumber(text);
    return v ? CInt16(*v) : std::nullopt;
}

} // namespace Conv
