#pragma once
// The alarm journal AlarmLog.csv in the working directory: one line per event, in the text form
// of the data logs (Shift-JIS, CR LF, appended whole or not at all), five fields separated by
// ",": the date and time as the data log writes them, the unit's row number in three digits
// (empty for the station itself), the unit's name, the event and the alarm setting's text.
// A text field with a quote or a comma is quoted as CSV readers expect, and one a spreadsheet
// would take for a formula (=, +, -, @ first) begins with an apostrophe; reading undoes both.

#include <QDateTime>
#include <QString>
#include <vector>

class Clock;

enum class JournalEvent {
    Raised,
    Acknowledged,
    Cleared,
    GivenUp,
    Answering,
    MailFailed,
    DiskLow,
    // The station's own (no unit): monitoring started or stopped, the wall clock set; the
    // program started, ended, or was found to have been down; a line left dialled; a start refused.
    Started,
    Stopped,
    ClockChanged,
    Launched,
    Exited,
    Down,
    HangUpFailed,
    StartRefused,
    ArchiveFailed, // a data log could not be archived (it waits for the next pass)
    ReportFailed,  // a report made by itself failed (the name field: which report)
    WebFailed,     // the web view could not start (the name field: why)
};

struct JournalEntry {
    QDateTime time;
    int unit = -1; // -1 for an event of the station itself
    QString name;
    QString event;
    QString condition;
};

class AlarmJournal {
public:
    static inline const QString FileName = QStringLiteral("AlarmLog.csv");

    AlarmJournal(QString workDir, const Clock& clock);

    // The event's word in the journal: 発生, 確認, 復帰, 通信断, 通信復帰, メール送信失敗, ディスク残量不足,
    // 監視開始, 監視停止, 時刻変更, 起動, 終了, 停止中, 回線切断失敗, 監視開始失敗.
    static QString EventWord(JournalEvent event);
    // Appends the event's line, stamped now; false when it could not be written (the caller's
    // work goes on either way).
    bool Record(JournalEvent event, int unit, const QString& name, const QString& condition = QString());
    QString path() const;

    // The entries of a journal file, oldest first: its last maxBytes at most, whole lines only;
    // lines that are not five fields with a date are passed over. older tells whether the file
    // holds more before what was read.
    // A text as a CSV field a spreadsheet takes as text: quoted where it must be, a formula guarded.
    static QString CsvField(const QString& text);
    static std::vector<JournalEntry> Read(const QString& path, qint64 maxBytes = 16 * 1024 * 1024,
                                          bool* older = nullptr);

private:
    QString m_workDir;
    const Clock& m_clock;
};
