// ChannelInf.csv: a header line, then one line of 11 comma-separated fields per channel,
// Shift-JIS, CR LF, like the station's other settings files.

#include "shared/ChannelTable.h"

#include "shared/StationSize.h"

#include "shared/SettingsFile.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>

const QString ChannelTable::FileName = QStringLiteral("ChannelInf.csv");

namespace {

const QStringList Head = {
    QStringLiteral("ユニット"),   QStringLiteral("チャンネル"), QStringLiteral("タグ名"),
    QStringLiteral("単位"),       QStringLiteral("生値下限"),   QStringLiteral("生値上限"),
    QStringLiteral("工学値下限"), QStringLiteral("工学値上限"), QStringLiteral("小数桁"),
    QStringLiteral("ON表示"),     QStringLiteral("OFF表示"),
};

std::optional<double> number(const QString& text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool before(const ChannelLine& a, const ChannelLine& b)
{
    return a.unit != b.unit ? a.unit < b.unit : a.channel < b.channel;
}

} // namespace

double ChannelLine::scaled(double raw) const
{
    // Weighted by both ends, so each end maps exactly onto its engineering value.
    const double t = (raw - rawLow) / (rawHigh - rawLow);
    return engLow * (1 - t) + engHigh * t;
}

QString ChannelLine::text(double raw) const
{
    QString s = QString::number(scaled(raw), 'f', std::clamp(decimals, 0, 6));
    // A small negative rounding to zero reads as zero.
    if (s.startsWith(u'-') && s.toDouble() == 0)
        s.remove(0, 1);
    return s;
}

QString ChannelLine::levelText(bool on) const
{
    const QString& word = on ? onText : offText;
    return word.isEmpty() ? (on ? QStringLiteral("ON") : QStringLiteral("OFF")) : word;
}

QString ChannelLine::caption() const
{
    return unitText.isEmpty() ? name : name + u'(' + unitText + u')';
}

std::optional<int> ChannelTable::ChannelOf(const QString& word)
{
    for (int c = 0; c < Channels; ++c)
        if (word == ChannelWord(c))
            return c;
    return std::nullopt;
}

QString ChannelTable::ChannelWord(int channel)
{
    return channel < 4 ? QStringLiteral("RA%1").arg(channel) : QStringLiteral("RB%1").arg(channel - 4);
}

QString ChannelTable::Number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

QString ChannelTable::Check(const ChannelLine& l)
{
    if (l.unit < 0 || l.unit >= UnitSlots)
        return QStringLiteral("ユニットは 000～099 です");
    if (l.channel < 0 || l.channel >= Channels)
        return QStringLiteral("チャンネルは RA0～RA3、RB0～RB7 です");
    if (l.name.trimmed().isEmpty())
        return QStringLiteral("タグ名がありません");
    for (const QString* t : {&l.name, &l.unitText, &l.onText, &l.offText})
        if (t->contains(u',') || t->contains(u'\r') || t->contains(u'\n'))
            return QStringLiteral("タグ名・単位・ON表示・OFF表示に「,」と改行は使えません");
        else if (TextFile::decode(TextFile::encode(*t)) != *t)
            return QStringLiteral("「%1」にシフトJISで書けない文字があります").arg(*t);
    if (!l.analogue())
        return QString();
    for (const double v : {l.rawLow, l.rawHigh, l.engLow, l.engHigh})
        if (!std::isfinite(v))
            return QStringLiteral("生値と工学値は数値です");
    if (l.rawLow == l.rawHigh)
        return QStringLiteral("生値下限と生値上限が同じです");
    if (l.decimals < 0 || l.decimals > 6)
        return QStringLiteral("小数桁は 0～6 です");
    return QString();
}

std::optional<ChannelLine> ChannelTable::Parse(int unit, int channel, QStringList cells, QString& problem)
{
    for (QString& c : cells)
        c = c.trimmed();
    ChannelLine l;
    l.unit = unit;
    l.channel = channel;
    cells.resize(9);
    l.name = cells[0];
    l.unitText = cells[1];
    l.onText = cells[7];
    l.offText = cells[8];
    if (l.analogue()) {
        for (int k = 2; k <= 5; ++k)
            if (!number(cells[k])) {
                problem = Head[k + 2] + QStringLiteral("が数値ではありません");
                return std::nullopt;
            }
        l.rawLow = *number(cells[2]);
        l.rawHigh = *number(cells[3]);
        l.engLow = *number(cells[4]);
        l.engHigh = *number(cells[5]);
        bool ok = false;
        l.decimals = cells[6].toInt(&ok);
        if (!ok)
            l.decimals = -1;
        if (!l.onText.isEmpty() || !l.offText.isEmpty()) {
            problem = QStringLiteral("アナログのチャンネルに ON表示・OFF表示はありません");
            return std::nullopt;
        }
    } else if (std::any_of(cells.begin() + 1, cells.begin() + 7, [](const QString& c) { return !c.isEmpty(); })) {
        problem = QStringLiteral("ピンのチャンネルは単位・生値・工学値・小数桁を空けます");
        return std::nullopt;
    }
    problem = Check(l);
    if (!problem.isEmpty())
        return std::nullopt;
    return l;
}

Outcome ChannelTable::load()
{
    ++m_generation;
    m_lines.clear();
    m_unreadable = false;
    const QString path = QDir(m_workDir).filePath(FileName);
    TextFile::removeStaleTemporaries(path);
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
        return Failed(Fault::NotLoaded);
    const QString unreadable = FileName + QStringLiteral(" が読めません");
    const auto fault = [&](int line, const QString& why) {
        m_lines.clear();
        m_unreadable = true;
        return Failed(Fault::SettingsFile,
                      unreadable + QStringLiteral("（%1 行目）\n%2。チャンネル設定は使いません").arg(line).arg(why));
    };
    const auto text = TextFile::readLines(path);
    if (!text) {
        m_unreadable = true;
        return Failed(Fault::SettingsFile, unreadable);
    }
    std::vector<ChannelLine> lines;
    bool head = true;
    for (int i = 0; i < text->size(); ++i) {
        const QString& raw = (*text)[i];
        if (raw.trimmed().isEmpty())
            continue;
        QStringList f = raw.split(u',');
        for (QString& s : f)
            s = s.trimmed();
        if (f.size() != Head.size())
            return fault(i + 1, QStringLiteral("項目が %1 個あります（%2 個です）").arg(f.size()).arg(Head.size()));
        if (std::exchange(head, false)) {
            if (f != Head)
                return fault(i + 1, QStringLiteral("最初の行は見出し（%1）です").arg(Head.join(u',')));
            continue;
        }
        const bool unitOk =
            f[0].size() == 3 && std::all_of(f[0].begin(), f[0].end(), [](QChar c) { return c.isDigit(); });
        const auto channel = ChannelOf(f[1]);
        if (!unitOk || !channel)
            return fault(i + 1, !unitOk ? QStringLiteral("ユニットは 000～099 です")
                                        : QStringLiteral("チャンネルは RA0～RA3、RB0～RB7 です"));
        QString problem;
        const auto parsed = Parse(f[0].toInt(), *channel, f.mid(2), problem);
        if (!parsed)
            return fault(i + 1, problem);
        const ChannelLine& l = *parsed;
        if (std::any_of(lines.begin(), lines.end(),
                        [&](const ChannelLine& o) { return o.unit == l.unit && o.channel == l.channel; }))
            return fault(i + 1, QStringLiteral("%1 の %2 は前の行にもあります").arg(f[0], f[1]));
        lines.push_back(l);
    }
    std::sort(lines.begin(), lines.end(), before);
    m_lines = std::move(lines);
    return {};
}

QString ChannelTable::text() const
{
    QString out = Head.join(u',') + QStringLiteral("\r\n");
    for (const ChannelLine& l : m_lines) {
        QStringList f = {QStringLiteral("%1").arg(l.unit, 3, 10, QLatin1Char('0')), ChannelWord(l.channel), l.name};
        if (l.analogue())
            f << l.unitText << Number(l.rawLow) << Number(l.rawHigh) << Number(l.engLow) << Number(l.engHigh)
              << QString::number(l.decimals) << QString() << QString();
        else
            f << QString() << QString() << QString() << QString() << QString() << QString() << l.onText << l.offText;
        out += f.join(u',') + QStringLiteral("\r\n");
    }
    return out;
}

Outcome ChannelTable::save(MessageBoxService& messages)
{
    for (const ChannelLine& l : m_lines) {
        const QString problem = Check(l);
        if (!problem.isEmpty())
            return Failed(
                Fault::SettingsFile,
                QStringLiteral("%1 %2: %3").arg(l.unit, 3, 10, QLatin1Char('0')).arg(ChannelWord(l.channel), problem));
    }
    return SaveKeyValues(messages, QDir(m_workDir).filePath(FileName), FileName, text(), m_unreadable);
}

const ChannelLine* ChannelTable::find(int unit, int channel) const
{
    ChannelLine key;
    key.unit = unit;
    key.channel = channel;
    const auto it = std::lower_bound(m_lines.begin(), m_lines.end(), key, before);
    return it != m_lines.end() && it->unit == unit && it->channel == channel ? &*it : nullptr;
}

std::vector<ChannelLine> ChannelTable::forUnit(int unit) const
{
    std::vector<ChannelLine> out;
    std::copy_if(m_lines.begin(), m_lines.end(), std::back_inserter(out),
                 [unit](const ChannelLine& l) { return l.unit == unit; });
    return out;
}

void ChannelTable::setUnit(int unit, std::vector<ChannelLine> lines)
{
    ++m_generation;
    std::erase_if(m_lines, [unit](const ChannelLine& l) { return l.unit == unit; });
    for (ChannelLine& l : lines) {
        l.unit = unit;
        m_lines.push_back(std::move(l));
    }
    std::sort(m_lines.begin(), m_lines.end(), before);
}

bool ChannelTable::deleteUnit(int unit)
{
    ++m_generation;
    bool changed = std::erase_if(m_lines, [unit](const ChannelLine& l) { return l.unit == unit; }) > 0;
    for (ChannelLine& l : m_lines)
        if (l.unit > unit) {
            --l.unit;
            changed = true;
        }
    return changed;
}

QString ChannelTable::conditionText(int unit, const QString& condition) const
{
    const QStringList parts = condition.split(u':');
    if (parts.size() != 3)
        return condition;
    const QString kind = parts[0].trimmed();
    bool ok = false;
    const int pin = parts[1].trimmed().toInt(&ok);
    const bool analogue = kind == u"Ain";
    if (!ok || (!analogue && kind != u"Din") || pin < 0 || pin >= (analogue ? 4 : 8))
        return condition;
    const int channel = analogue ? pin : 4 + pin;
    const ChannelLine* l = find(unit, channel);
    if (!l)
        return condition;
    const QString level = parts[2].trimmed();
    const QString said = analogue || (level != u"High" && level != u"Low") ? level : l->levelText(level == u"High");
    return QStringLiteral("%1(%2): %3").arg(l->name, ChannelWord(channel), said);
}
