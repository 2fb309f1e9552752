#pragma once
// Reports made by themselves, as ReportInf.ini says (Daily, Monthly, Mail: 0 or 1): from 00:05
// yesterday's 日報 of every unit, from 00:05 on the 1st last month's 月報, CSV and PDF into reports/
// in the working directory, and with Mail=1 the PDF mailed to the address book. A report not
// there yet is due: one missed while the station was down is made at the next start (the latest
// due of each kind; older ones from the window or --report). Made on a worker, one at a time; a
// failure is journalled and tried again at the next start, and monitoring never waits for it.

#include "shared/Outcome.h"
#include "shared/ReportFigures.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class MontComm1;

struct ReportSettings {
    int Daily = 0;
    int Monthly = 0;
    int Mail = 0;
};
// ReportInf.ini in the working directory: NotLoaded without it (nothing is made by itself).
Outcome LoadReportInf(const QString& workDir, ReportSettings& settings);
Outcome SaveReportInf(const QString& workDir, const ReportSettings& settings);

class ReportSchedule : public QObject {
    Q_OBJECT
public:
    explicit ReportSchedule(MontComm1& comm, QObject* parent = nullptr);
    ~ReportSchedule() override;

    // A look at once, then every minute.
    void start();
    // Starts the report that is due, if one is and none is being made.
    void check();
    bool busy() const { return m_worker.joinable(); }

signals:
    // A report was made (ok) or failed; its PDF's path.
    void reportDone(const QString& pdfPath, bool ok);

private:
    struct Due {
        Report::Kind kind;
        QDate date;
    };
    std::optional<Due> nextDue(const ReportSettings& settings) const;
    void finished(const Due& due, const Outcome& outcome, bool mail);

    MontComm1& m_comm;
    QTimer m_timer;
    QSet<QString> m_tried; // made or failed since the start
    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
};
