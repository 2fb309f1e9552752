#pragma once
// The Internet settings (mode, relay, mail, dial-up, camera folders) and the file InetInf.ini
// that stores them.

#include "shared/StationSize.h"
#include "shared/Outcome.h"

#include <QString>
#include <array>
#include <cstdint>

class MessageBoxService;
class SysInf;

struct InternetSettings {
    int16_t Mode = 2;
    int16_t Mode2 = 1;
    QString FTP;
    QString ID;
    QString PassWord;
    QString RemoteDir;
    QString URL;
    std::array<QString, UnitSlots> FileName;
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

class InetInf {
public:
    // The file holds a relay file name for each unit of sys's table.
    InetInf(QString workDir, MessageBoxService& messages, const SysInf& sys);

    const struct InternetSettings& InternetSettings() const { return m_settings; }
    bool InetInfValid() const { return m_valid; }
    bool InetInfUnreadable() const { return m_unreadable; }
    // The settings from a settings window's copy; saved by SaveInetInf.
    void Commit(const struct InternetSettings& settings) { m_settings = settings; }
    // The communication mode window's LAN option works at once, before its window is closed.
    void SetMode(int16_t mode) { m_settings.Mode = mode; }

    // Failed with what went wrong, for the window to show (a load's fault once, until it
    // changes); NotLoaded for a station without the file. A save of a file that did not load
    // asks first. While the system file does not load, the file is neither loaded nor saved.
    Outcome LoadInetInf();
    Outcome SaveInetInf();
    CommModeKind CommMode() const;
    static QString ScramblePass(const QString& direction, const QString& text);
    static constexpr int PassShift = 23;
    // The unit's relay file name when it is 1 to 8 ASCII letters and digits, else empty:
    // a hand-edited name is never used to build a path.
    QString RelayFileName(int unit) const;
    static bool IsRelayFileNameValid(const QString& name);
    // True when at least one of Camera1..Camera4 is set.
    bool HasCameraFolder() const;

private:
    QString path(const QString& fileName) const;
    bool loadLines(QString& problem);

    QString m_workDir;
    MessageBoxService& m_messages;
    const SysInf& m_sys;
    struct InternetSettings m_settings;
    bool m_valid = false;
    // The file is there but did not load: the settings in memory are defaults, and a save
    // asks first and keeps the old file as InetInf.ini.bak.
    bool m_unreadable = false;
    // Why the last load failed, as reported (reported again only when it changes).
    QString m_problem;
    // The last load was skipped: sysinf001.csv was there but did not load, and the file's
    // FileName lines are counted by its units. Nothing is saved until a load has run.
    bool m_heldBySysInf = false;
};
