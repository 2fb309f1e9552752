#pragma once
// The plant's own words for a unit's channels, in ChannelInf.csv: a tag name per channel, a
// linear scaling of an analogue reading to an engineering value with its unit text, and the
// words a pin's ON and OFF stand for. Display only: the data logs, the relay files, the journal
// and the station's own windows keep raw values, which stored files and the peer station read.

#include "shared/Outcome.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

class MessageBoxService;

struct ChannelLine {
    int unit = 0;    // the unit's row, 0..99
    int channel = 0; // RA0..RA3 are 0..3, RB0..RB7 are 4..11, as in a data log line
    QString name;    // タグ名
    QString unitText;
    double rawLow = 0, rawHigh = 0, engLow = 0, engHigh = 0;
    int decimals = 0;
    QString onText, offText;

    bool analogue() const { return channel < 4; }
    // The raw reading on the line through the two ends; beyond them the same line goes on.
    double scaled(double raw) const;
    // scaled(raw) with its decimals, as people read it ("5.00"); never "-0.00".
    QString text(double raw) const;
    // text(raw) as a number, rounded to the decimals as written.
    double rounded(double raw) const { return text(raw).toDouble(); }
    // A pin's level in the line's words.
    QString levelText(bool on) const;
    // The channel's name in a window: the tag name, and the unit text in brackets where one is set.
    QString caption() const;
};

class ChannelTable {
public:
    static constexpr int Channels = 12;
    static const QString FileName;

    explicit ChannelTable(QString workDir) : m_workDir(std::move(workDir)) {}

    // NotLoaded without a file. A faulty file is named with its line and ignored as a whole.
    Outcome load();
    // Written whole through a temporary file, 0600; a file that did not load is replaced only
    // when the operator agrees (it is kept as .bak).
    Outcome save(MessageBoxService& messages);
    // Whether the file was there and did not load: nothing in memory comes from it.
    bool unreadable() const { return m_unreadable; }

    const ChannelLine* find(int unit, int channel) const;
    std::vector<ChannelLine> forUnit(int unit) const;
    const std::vector<ChannelLine>& lines() const { return m_lines; }
    // Changes whenever the lines may have: a reader that copied them knows when to copy again.
    uint64_t generation() const { return m_generation; }
    // Replaces the unit's lines (channels outside 0..11 and duplicates are the caller's to refuse).
    void setUnit(int unit, std::vector<ChannelLine> lines);
    // The unit is removed from the device table: its lines go, later units' move up one row.
    // False when nothing changed.
    bool deleteUnit(int unit);

    // A unit's alarm setting ("Din: 4:High") with the channel's tag name and, for a pin, its
    // word for the level ("ポンプ1(RB4): 運転"); as it is where the channel has no line.
    QString conditionText(int unit, const QString& condition) const;

    // What is wrong with a line as the window or the file gives it; empty when nothing.
    static QString Check(const ChannelLine& line);
    // A line from its nine fields after the channel (タグ名 … OFF表示), or why not, naming the field.
    static std::optional<ChannelLine> Parse(int unit, int channel, QStringList cells, QString& problem);
    // "RA0".."RA3", "RB0".."RB7"; nothing for anything else.
    static std::optional<int> ChannelOf(const QString& word);
    static QString ChannelWord(int channel);
    // A number as the file and the window write it: as short as it reads back exactly.
    static QString Number(double v);
    QString text() const;

private:
    QString m_workDir;
    std::vector<ChannelLine> m_lines; // by unit, then channel
    bool m_unreadable = false;
    uint64_t m_generation = 0;
};
