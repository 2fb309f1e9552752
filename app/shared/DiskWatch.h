#pragma once
// Watches the free space of the working directory's file system once a minute: the data logs
// only grow, and a full disk stops them. Below 10 % or 1 GB free it raises warning() with the
// status bar's text every minute, and records the start of each shortage in the journal. The text
// also says in how many days the disk is full at the rate it has filled over the last hours.

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class AlarmJournal;

struct DiskSpace {
    int64_t available = 0;
    int64_t total = 0;
};

// The warning's text, or nothing while there is room enough; daysLeft when the disk is filling.
std::optional<QString> DiskWarningText(const DiskSpace& space, std::optional<double> daysLeft = std::nullopt);

// Free space sampled over time; the days until it is gone at the rate of the samples kept (up
// to six hours, at least ten minutes of them), nothing while it is not going down.
class FillRate {
public:
    void add(int64_t elapsedMs, int64_t available);
    std::optional<double> daysLeft() const;

private:
    struct Sample {
        int64_t ms;
        int64_t available;
    };
    std::deque<Sample> m_samples;
};

class DiskWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int PeriodMs = 60 * 1000;
    using Probe = std::function<std::optional<DiskSpace>()>;

    // probe() reads the file system; tests give their own.
    DiskWatch(QString workDir, AlarmJournal& journal, QObject* parent = nullptr);
    void setProbe(Probe probe) { m_probe = std::move(probe); }
    // Milliseconds on a clock that only goes forward; tests give their own.
    void setElapsed(std::function<int64_t()> elapsed) { m_elapsed = std::move(elapsed); }
    void start()
    {
        m_timer.start();
        check();
    }
    // One look at the disk, as the timer does.
    void check();
    bool low() const { return m_low; }

signals:
    // Each check while space is low; an empty text once it is not any more.
    void warning(const QString& text);

private:
    QString m_workDir;
    AlarmJournal& m_journal;
    Probe m_probe;
    std::function<int64_t()> m_elapsed;
    FillRate m_rate;
    QTimer m_timer;
    bool m_low = false;
};
