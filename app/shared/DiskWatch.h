#pragma once
// Watches the free space of the working directory's file system once a minute: the data logs
// only grow, and a full disk stops them. Below 10 % or 1 GB free it raises warning() with the
// status bar's text every minute, and records the start of each shortage in the journal.

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

class AlarmJournal;

struct DiskSpace {
    int64_t available = 0;
    int64_t total = 0;
};

// The warning's text, or nothing while there is room enough.
std::optional<QString> DiskWarningText(const DiskSpace& space);

class DiskWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int PeriodMs = 60 * 1000;
    using Probe = std::function<std::optional<DiskSpace>()>;

    // probe() reads the file system; tests give their own.
    DiskWatch(QString workDir, AlarmJournal& journal, QObject* parent = nullptr);
    void setProbe(Probe probe) { m_probe = std::move(probe); }
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
    QTimer m_timer;
    bool m_low = false;
};
