#pragma once
// The alarm history window "アラーム履歴": the alarm journal newest first, filtered by unit and
// period, and beside it each unit's count of alarms in the last 24 hours, most first, so the
// unit that alarms all day stands out.

#include "AlarmJournal.h"

#include <QWidget>
#include <vector>

class Clock;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class SysInf;

namespace History {

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

} // namespace History

class AlarmHistory : public QWidget {
    Q_OBJECT
public:
    AlarmHistory(const SysInf& sys, QString journalPath, const Clock& clock, QWidget* parent = nullptr);

    QComboBox* UnitFilter = nullptr;
    QComboBox* PeriodFilter = nullptr;
    QPushButton* Refresh = nullptr;
    QPushButton* CloseCmd = nullptr;
    QTableWidget* EventTable = nullptr;
    QTableWidget* CountTable = nullptr;
    QLabel* StatusText = nullptr;

    // Reads the journal again and shows it with the filters set.
    void reload();

private:
    void buildControls();

    const SysInf& m_sys;
    QString m_journalPath;
    const Clock& m_clock;
};
