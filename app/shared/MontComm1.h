#pragma once
// What every window of the station shares, each part with one concern: the device table and
// cycle settings (SysInf), the Internet settings (InetInf), the unit states (UnitStates), the
// data and relay files (DataFiles), the alarm mail and mark (AlarmNotifier), the alarm journal
// (AlarmJournal), the MQTT feed (MqttFeed) and the one dial-up line. The program has one; tests
// make as many as they like, each on its own working directory.

#include "shared/AlarmEvents.h"
#include "shared/AlarmJournal.h"
#include "shared/AlarmNotifier.h"
#include "shared/ChannelTable.h"
#include "shared/DataFiles.h"
#include "shared/DataLogGate.h"
#include "shared/InetInf.h"
#include "shared/LogArchiver.h"
#include "shared/MqttFeed.h"
#include "shared/SysInf.h"
#include "shared/UnitStates.h"

#include <QString>
#include <memory>

class Clock;
class DialUpBackend;
class DialUpLine;
class MessageBoxService;

class MontComm1 {
public:
    static constexpr int TableRows = SysInf::TableRows;

    MontComm1(QString workDir, MessageBoxService& messages, const Clock& clock);
    ~MontComm1();
    MontComm1(const MontComm1&) = delete;
    MontComm1& operator=(const MontComm1&) = delete;

    // Paths resolve against the working directory.
    QString path(const QString& fileName) const;
    const QString& workDir() const { return m_workDir; }
    MessageBoxService& messages() { return m_messages; }
    const Clock& clock() const { return m_clock; }

    SysInf& sys() { return m_sys; }
    const SysInf& sys() const { return m_sys; }
    InetInf& inet() { return m_inet; }
    const InetInf& inet() const { return m_inet; }
    UnitStates& units() { return m_units; }
    const UnitStates& units() const { return m_units; }
    DataFiles& files() { return m_files; }
    // Every writer of a unit's data log goes through here.
    DataLogGate& dataLog() { return m_dataLog; }
    AlarmNotifier& alarms() { return m_alarms; }
    // Every raise, acknowledge, clear, given up, answering, start and stop goes through here.
    AlarmEvents& events() { return m_events; }
    AlarmJournal& journal() { return m_journal; }
    // How the data logs are kept (LogInf.ini) and the worker that archives them.
    LogArchiver& logs() { return m_logs; }
    // Tag names, engineering units and ON/OFF words for display (ChannelInf.csv); empty until loaded.
    ChannelTable& channels() { return m_channels; }
    const ChannelTable& channels() const { return m_channels; }
    // The MQTT publisher: idle until started from MqttInf.ini.
    MqttFeed& mqtt() { return m_mqtt; }

    // One dial-up line for the whole station, taken by leases.
    DialUpLine& dialUpLine();
    // NetworkManager in the program, a fake in tests; it must outlive this object.
    void setDialUpBackend(DialUpBackend* backend);

    // The watchdog period of each step of a file sent to the FTP server; only tests shorten it.
    int ftpStepTimeOutMs() const { return m_ftpStepTimeOutMs; }
    void setFtpStepTimeOutMs(int ms) { m_ftpStepTimeOutMs = ms; }

private:
    QString m_workDir;
    MessageBoxService& m_messages;
    const Clock& m_clock;
    SysInf m_sys;
    InetInf m_inet;
    UnitStates m_units;
    DataFiles m_files;
    DataLogGate m_dataLog{m_files, m_units};
    AlarmJournal m_journal;
    ChannelTable m_channels{m_workDir};
    LogArchiver m_logs{m_workDir, m_dataLog, m_journal, m_clock};
    MqttFeed m_mqtt;
    DialUpBackend* m_dialUpBackend = nullptr;
    std::unique_ptr<DialUpLine> m_line;
    int m_ftpStepTimeOutMs = 30000;
    AlarmNotifier m_alarms; // after the line: its mail may hold a lease until it goes
    AlarmEvents m_events{{m_journal, m_mqtt, m_alarms, m_sys, m_inet, m_units}};
};
