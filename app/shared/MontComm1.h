#pragma once
// The program-wide data every window shares: the device table and cycle settings
// (sysinf001.csv), the Internet settings (InetInf.ini), the unit states and the
// data files. The program has one; tests make as many as they like, each on its
// own working directory.

#include "AddressBook.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class Clock;
class DeviceLink;
class DialUpBackend;
class DialUpLine;
class MailRunner;
class FtpClient;
class MessageBoxService;
class QTimer;
class SmtpClient;

// Columns of a DeviceRecord, in file order.
enum DeviceColumn : int {
    ColName = 0,
    ColIP = 1,
    ColLCD = 2,
    ColIO = 3,
    ColRS = 4,
    ColBPS = 5,
    ColRA0 = 6,  // RA0..RA3 are 6..9
    ColRB0 = 10, // RB0..RB7 are 10..17
    ColControl = 18,
    ColArm = 19,
};

struct MonitorSettings {
    int16_t MoniterCycl = 0;
    QString MoniterCyclType;
    int16_t TimeOut = 0;
    QString TimeOutCyclType;
    int16_t ReloadCycl = 0;
    int16_t ReloadSize = 0;
};

struct InternetSettings {
    int16_t Mode = 2;
    int16_t Mode2 = 1;
    QString FTP;
    QString ID;
    QString PassWord;
    QString RemoteDir;
    QString URL;
    std::array<QString, 100> FileName;
    int16_t TimeOut = 3;
    int16_t NotReadSize = 5;
    QString ProxyServerName;
    QString ProxyPortNo;
    QString SMTPServerName;
    QString SendMailName;
    QString MailHeader;
    QString MailBody;
    QString DialUpName;
    QString DialUpUser;
    QString DialUpPass;
    QString SendFordername;
    std::array<QString, 5> Camera;
};

// How this station relays, read from Mode and SendFordername.
enum class CommModeKind { InternetUpload, InternetDownload, LanDownload, LanUpload, PlainLan };

// Items of a UnitState.
enum UnitItem : int { ItemTemperature = 5, ItemRB0 = 6, ItemFailureCount = 14, ItemAlarmFlag = 15 };

using UnitState = std::array<int16_t, 16>;

// Values of a unit's AlarmFlag item.
enum AlarmFlagState : int16_t { AlarmClear = 0, AlarmRaised = 1, AlarmAcknowledged = 2 };

// A unit's alarm setting ("Din: 3:High"), read from its Arm cell.
struct AlarmRule {
    enum class Kind { None, Analog, Digital };
    Kind kind = Kind::None;
    int pin = -1;      // -1 when the pin part names no pin of that kind
    bool high = false; // holds at level 1 when true, at level 0 otherwise
    // The UnitState item the rule watches.
    int item() const { return (kind == Kind::Digital ? ItemRB0 : 0) + pin; }
};

// One unit's row of the device table: its cells in the order of DeviceColumn (and one spare).
using DeviceRecord = std::array<QString, 21>;

class MontComm1 {
public:
    static constexpr int TableRows = 111;
    static constexpr int TableColumns = int(std::tuple_size_v<DeviceRecord>);
    static constexpr int UnitSlots = 100;

    MontComm1(QString workDir, MessageBoxService& messages, const Clock& clock);

    // Paths resolve against the working directory.
    QString path(const QString& fileName) const;
    const QString& workDir() const { return m_workDir; }
    MessageBoxService& messages() { return m_messages; }
    const Clock& clock() const { return m_clock; }

    // --- device table and system information file ---
    QString SysInfDir;
    QString SysInfName = QStringLiteral("sysinf001.csv");
    int16_t DeviceCount = 0;
    int16_t MaxDevices = 100;
    bool SysInfValid = false;
    // The file is there but did not load: a save asks first and keeps the old file as .bak.
    bool SysInfUnreadable = false;
    std::array<DeviceRecord, TableRows> DeviceTable;
    struct MonitorSettings MonitorSettings;

    // DeviceCount held within 0..MaxDevices, for every loop over the table.
    int unitCount() const;
    // A row with an empty address holds no unit: it is never polled, logged or mailed.
    bool HoldsUnit(int row) const;
    QString& cell(int row, int column) { return DeviceTable[row][column]; }
    const QString& cell(int row, int column) const { return DeviceTable[row][column]; }

    bool LoadSysInf();
    bool SaveSysInf();
    static QString GetSysInfField(const QString& key, const QString& line);
    int16_t GetPinType(int unit, int port, int pin) const;
    QString GetArmField(int unit, int part) const;
    AlarmRule ArmRule(int unit) const;
    // The unit's twelve pin types RA0..RA3, RB0..RB7, joined by ",": the relay files carry them.
    QString PinTypesText(int unit) const;
    bool OpenUnitLink(DeviceLink& link, int unit);
    // The same on a copy of a unit's row, for a poll engine's lane.
    static bool OpenUnitLink(DeviceLink& link, const DeviceRecord& row, int32_t timeOut);
    // Writes the unit's address properties in their fixed order; false for a unit outside
    // the table or a port number beyond int16 (the link is then left as it was).
    bool AimUnitLink(DeviceLink& link, int unit, int32_t timeOut) const;
    static bool AimUnitLink(DeviceLink& link, const DeviceRecord& row, int32_t timeOut);
    // The key a poll engine keeps the unit's connection under.
    static QString UnitKey(const DeviceRecord& row);
    bool ProbeUnitLink(DeviceLink& link, int unit);

    // --- Internet settings file ---
    struct InternetSettings InternetSettings;
    bool InetInfValid = false;
    // The file is there but did not load: the settings in memory are defaults, and a save
    // asks first and keeps the old file as InetInf.ini.bak.
    bool InetInfUnreadable = false;
    // Why the last load failed, as reported (reported again only when it changes).
    QString InetInfProblem;
    bool LoadInetInf();
    bool SaveInetInf();
    CommModeKind CommMode() const;
    static QString ScramblePass(const QString& direction, const QString& text);
    static constexpr int PassShift = 23;
    // The unit's relay file name when it is 1 to 8 ASCII letters and digits, else empty:
    // a hand-edited name is never used to build a path.
    QString RelayFileName(int unit) const;
    static bool IsRelayFileNameValid(const QString& name);

    // --- unit states and shared variables of the windows ---
    std::array<UnitState, UnitSlots> UnitValues{};
    int16_t& unitItem(int item, int unit) { return UnitValues[unit][item]; }
    int16_t unitItem(int item, int unit) const { return UnitValues[unit][item]; }
    int CurUnit = -1;
    DeviceLink* CurLink = nullptr;
    int16_t DetailOpenFlag = 0;
    std::array<QString, 4> CycleStart;
    std::array<QString, 4> CycleDue;

    // --- data files ---
    void WriteDataLog(int unit);
    // The line under the given time: a line held back until its poll ended keeps its tick's second.
    void WriteDataLog(int unit, const QDateTime& stamp);
    bool IsDataFresh(const QString& relayText) const;
    // The same test for a stamp already read from the data line.
    bool IsDataFresh(const QDateTime& stamp) const;
    bool FileExists(const QString& path) const;
    void DeleteLocalFile(const QString& path) const;
    // Writes one empty line into fileName and copies it into the send folder when one is
    // set; true on failure.
    bool CreateRelayFile(const QString& fileName);
    // The file of that name in the send folder (SendFordername, relative to the working directory).
    QString SendFolderPath(const QString& fileName) const;
    // Replaces the send folder's copy of a working-directory file; false on failure.
    bool CopyToSendFolder(const QString& fileName) const;
    static QString DataLogName(int unit);

    // --- alarm mail (mail.xls through smtp1, on a lease of the dial-up line when DialUpName is set) ---
    // Queues the text and returns at once: a mail run reads the book and mails every address
    // on a worker thread, one run at a time in the order asked. Its faults are shown as
    // notices; nothing of it changes a unit's state or holds the caller.
    void SendAlarmMail(const QString& alarmText);
    // Texts queued or being mailed.
    int mailsPending() const;
    // Closing: the send under way ends at once, queued texts are dropped, the worker is joined.
    void StopMail();
    SmtpClient* smtp1 = nullptr; // the SMTP control hosted by the main window

    // --- abnormality notice: IjyouFile.txt into every Camera folder, without waiting ---
    // done(0, or 1 when the last folder's send failed) follows from the event loop; nothing
    // follows when ftp is destroyed first. Without a control: the main window's (1 at once
    // when there is none).
    void PostAbnormalMark(FtpClient& ftp, QTimer& timer, std::function<void(int16_t)> done = {});
    void PostAbnormalMark(std::function<void(int16_t)> done = {});
    void SetMainFtp(FtpClient* ftp, QTimer* timFtp)
    {
        m_mainFtp = ftp;
        m_mainTimFtp = timFtp;
    }
    // True when at least one of Camera1..Camera4 is set.
    bool HasCameraFolder() const;

    // --- dial-up: one line for the whole station, taken by leases ---
    DialUpLine& dialUpLine();
    DialUpBackend* RasBackend = nullptr; // NetworkManager in the program, a fake in tests

    // --- files to the FTP server go through FtpUploadJob (FtpUpload.h) ---
    int FtpStepTimeOutMs = 30000; // the watchdog period of each step; only tests shorten it

    // The last replies of the main window's FTP control (each send keeps its own file and size).
    int32_t RemoteFileSize = 0;
    bool FtpTimedOut = false;
    int16_t FtpEventCode = 0;
    int16_t FtpState = 0;
    QString FtpEventText;

    ~MontComm1();

private:
    // Before a save replaces a settings file that did not load: asks, and keeps name.bak.
    bool confirmReplacing(const QString& file, const QString& name, const QString& writeError);
    bool loadSysInfChecked();
    bool loadInetInfLines(QString& problem);

    QString m_workDir;
    MessageBoxService& m_messages;
    const Clock& m_clock;
    std::unique_ptr<MailRunner> m_mail;
    std::unique_ptr<DialUpLine> m_line;
    FtpClient* m_mainFtp = nullptr;
    QTimer* m_mainTimFtp = nullptr;
};
