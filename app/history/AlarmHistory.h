#pragma once
// The alarm history window "アラーム履歴": the alarm journal newest first, filtered by unit and
// period, and beside it each unit's count of alarms in the last 24 hours, most first, so the
// unit that alarms all day stands out. The journal is read and filtered on a thread of its own
// (it may hold a quarter of a million lines); the list is a model, not an item per cell. The
// window follows the journal as it grows; a double-click on a unit's row asks for its trend at
// that moment.

#include "shared/AlarmJournal.h"
#include "shared/ChannelTable.h"
#include "platform/Worker.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QTimer>
#include <QWidget>
#include <array>
#include <vector>

class Clock;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class SysInf;

namespace History {

// The hours of the period filter's choices: 24 hours, 7 days, 30 days, all (0).
inline constexpr std::array<int, 4> PeriodHours = {24, 7 * 24, 30 * 24, 0};

// The entries of the unit (-1: all) from since on, newest first.
std::vector<JournalEntry> Filter(const std::vector<JournalEntry>& entries, int unit, const QDateTime& since);
struct UnitCount {
    int unit = -1;
    QString name;
    int raised = 0;
};
// Each unit's raised alarms in the 24 hours before now, most first (units without any left out).
std::vector<UnitCount> RaisedLastDay(const std::vector<JournalEntry>& entries, const QDateTime& now);
// A unit that alarms this often in a day is marked.
inline constexpr int Frequent = 10;

// What the window shows of the journal, made off the UI thread.
struct Loaded {
    std::vector<JournalEntry> shown; // newest first
    std::vector<UnitCount> counts;
    bool older = false; // the journal holds entries before those read
};
Loaded Load(const QString& journalPath, int unit, const QDateTime& since, const QDateTime& now);

// The event list's rows: date and time, No., name, event, condition.
class EventModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setEntries(std::vector<JournalEntry> entries);
    // The conditions in the plant's words, where the channel table names their channel.
    void setChannels(const ChannelTable* channels) { m_channels = channels; }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    const JournalEntry* entry(int row) const
    {
        return row >= 0 && row < int(m_entries.size()) ? &m_entries[size_t(row)] : nullptr;
    }

private:
    std::vector<JournalEntry> m_entries;
    const ChannelTable* m_channels = nullptr;
};

} // namespace History

class AlarmHistory : public QWidget {
    Q_OBJECT
public:
    // How often the journal's size and time are looked at for new lines.
    static constexpr int FollowMs = 2000;

    AlarmHistory(const SysInf& sys, const ChannelTable& channels, QString journalPath, const Clock& clock,
                 QWidget* parent = nullptr);

    // Reads the journal again, off the UI thread, and shows it with the filters set.
    void reload();
    // True while a read is out.
    bool loading() const { return m_worker.out(); }
    // Reads the journal again when it changed since the last read (the timer calls it).
    void follow();

signals:
    // A unit's row was double-clicked: its trend around the entry's time.
    void trendAsked(int unit, const QDateTime& at);

private:
    void buildControls();
    void present(History::Loaded loaded);
    std::pair<qint64, QDateTime> journalStamp() const;

    QComboBox* UnitFilter = nullptr;
    QComboBox* PeriodFilter = nullptr;
    QPushButton* Refresh = nullptr;
    QPushButton* CloseCmd = nullptr;
    QTableView* EventTable = nullptr;
    QTableWidget* CountTable = nullptr;
    QLabel* StatusText = nullptr;

    const SysInf& m_sys;
    QString m_journalPath;
    const Clock& m_clock;
    History::EventModel* m_events = nullptr;
    bool m_again = false;                             // the filters changed while a read was out
    std::pair<qint64, QDateTime> m_readStamp{-1, {}}; // the journal's size and time when last read
    QTimer m_follow;
    Worker m_worker; // last: joined before the window's parts go
};
