#pragma once
// The program's own life on the journal: 起動 at each start and 終了 at a clean exit. A start
// that does not follow a 終了 (a crash, a power cut, a kill) first writes 停止中 with how long
// the station was down: from its last sign of life, the newest line of any data log or the
// heartbeat it touches every minute, whichever is later, to now.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class MontComm1;

class StationLife : public QObject {
    Q_OBJECT
public:
    static inline const QString HeartbeatFile = QStringLiteral(".heartbeat");
    static constexpr int HeartbeatMs = 60000;

    explicit StationLife(MontComm1& comm, QObject* parent = nullptr);

    // Call once the station holds its folder, and at a clean end.
    void started();
    void ended();

    // The station's last sign of life in its folder, if any.
    static std::optional<QDateTime> LastSign(const QString& workDir);

private:
    void beat();

    MontComm1& m_comm;
    QTimer m_heartbeat;
};
