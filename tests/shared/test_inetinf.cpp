#include "Station.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {
void fill(MontComm1& c, int units)
{
    EditSys(c, [&](SysInf::Content& t) { t.DeviceCount = int16_t(units); });
    auto s = c.inet().InternetSettings();
    s.Mode = 0;
    s.Mode2 = 0;
    s.FTP = "ftp.example ";
    s.ID = "user";
    s.PassWord = "p=ss word~";
    s.RemoteDir = "/relay";
    s.URL = "http://127.0.0.1/relay";
    for (int i = 0; i < units; ++i)
        s.FileName[i] = QStringLiteral("unit%1").arg(i + 1);
    s.TimeOut = 4;
    s.NotReadSize = 6;
    s.ProxyServerName = "  proxy  ";
    s.ProxyPortNo = "8080";
    s.SMTPServerName = "mail";
    s.SendMailName = "station@example";
    s.MailHeader = "警報";
    s.MailBody = "よろしく";
    s.DialUpName = "dial";
    s.DialUpUser = "du";
    s.DialUpPass = "secret";
    s.SendFordername = "";
    s.Camera = {"cam1", "", "cam3", "", ""};
    c.inet().Commit(s);
}
} // namespace

TEST(InetInf, SavesExactBytes)
{
    Station st;
    fill(st.comm, 2);
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    const QByteArray text = st.readBytes("InetInf.ini");
    const QByteArray pass = InetInf::ScramblePass("SET", "p=ss word~").toLatin1();
    const QByteArray dialPass = InetInf::ScramblePass("SET", "secret").toLatin1();
    // every line, in its place
    EXPECT_EQ(text.toStdString(),
              ("Mode=0\r\nMode2=0\r\nFTP=ftp.example \r\nID=user\r\nPassWord=" + pass +
               "\r\nRemoteDir=/relay\r\nURL=http://127.0.0.1/relay\r\nFileName1=unit1\r\n"
               "FileName2=unit2\r\nTimeOut=4\r\nNotReadSize=6\r\nProxyServerName=proxy\r\n"
               "ProxyPortNo=8080\r\nSMTPServerName=mail\r\nSendMailName=station@example\r\n"
               "MailHeader=\x8c\x78\x95\xf1\r\nMailBody=\x82\xe6\x82\xeb\x82\xb5\x82\xad\r\n"
               "DialUpName=dial\r\nDialUpUser=du\r\nDialUpPass=" +
               dialPass + "\r\nSendFordername=\r\nCamera1=cam1\r\nCamera2=\r\nCamera3=cam3\r\nCamera4=\r\n\r\n")
                  .toStdString());
    EXPECT_FALSE(text.contains("p=ss word~")); // the password is shifted in the file
    EXPECT_FALSE(text.contains("secret"));
    EXPECT_EQ(st.comm.inet().InternetSettings().PassWord, "p=ss word~"); // and plain in memory
}

TEST(InetInf, RoundTrips)
{
    Station st;
    fill(st.comm, 3);
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    Station other;
    EditSys(other.comm, [&](SysInf::Content& t) { t.DeviceCount = 3; });
    other.writeBytes("InetInf.ini", st.readBytes("InetInf.ini"));
    ASSERT_TRUE(other.comm.inet().LoadInetInf());
    const auto& a = st.comm.inet().InternetSettings();
    const auto& b = other.comm.inet().InternetSettings();
    EXPECT_EQ(b.Mode, 0);
    EXPECT_EQ(b.FTP, "ftp.example "); // written as typed
    EXPECT_EQ(b.PassWord, a.PassWord);
    EXPECT_EQ(b.DialUpPass, a.DialUpPass);
    EXPECT_EQ(b.FileName[2], "unit3");
    EXPECT_EQ(b.ProxyServerName, "proxy"); // written trimmed
    EXPECT_EQ(b.MailBody, a.MailBody);
    EXPECT_EQ(b.Camera[2], "cam3");
    EXPECT_EQ(b.TimeOut, 4);
    EXPECT_EQ(b.SMTPServerName, "mail");
    EXPECT_EQ(b.SendMailName, "station@example");
    EXPECT_EQ(b.MailHeader, a.MailHeader);
    EXPECT_EQ(b.DialUpName, "dial");
    EXPECT_EQ(b.DialUpUser, "du");
    EXPECT_EQ(b.ProxyPortNo, "8080");
    EXPECT_EQ(b.NotReadSize, 6);
}

TEST(InetInf, MissingOrBrokenFileGivesTheDefaults)
{
    Station st;
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    EditInet(st.comm, [&](InternetSettings& s) { s.FTP = "old"; });
    EditInet(st.comm, [&](InternetSettings& s) { s.SMTPServerName = "kept"; });
    EXPECT_FALSE(Reported(st.messages, st.comm.inet().LoadInetInf()));
    EXPECT_EQ(st.comm.inet().InternetSettings().Mode, 2);
    EXPECT_EQ(st.comm.inet().InternetSettings().Mode2, 1);
    EXPECT_EQ(st.comm.inet().InternetSettings().TimeOut, 3);
    EXPECT_EQ(st.comm.inet().InternetSettings().NotReadSize, 5);
    EXPECT_EQ(st.comm.inet().InternetSettings().FTP, "");
    EXPECT_EQ(st.comm.inet().InternetSettings().SMTPServerName, "kept");

    // Three file names read by a station with five units: a number line receives text.
    Station writer;
    fill(writer.comm, 3);
    ASSERT_TRUE(writer.comm.inet().SaveInetInf());
    Station reader;
    EditSys(reader.comm, [&](SysInf::Content& t) { t.DeviceCount = 5; });
    reader.writeBytes("InetInf.ini", writer.readBytes("InetInf.ini"));
    EXPECT_FALSE(Reported(reader.messages, reader.comm.inet().LoadInetInf()));
    EXPECT_EQ(reader.comm.inet().InternetSettings().Mode, 2);
    EXPECT_EQ(reader.comm.inet().InternetSettings().FileName[3], "");
    EXPECT_EQ(reader.comm.inet().InternetSettings().ProxyServerName, ""); // never reached, so kept (empty)
    EXPECT_TRUE(st.messages.shown.empty()); // a missing file is a new station: nothing to say

    Station mode;
    mode.writeBytes("InetInf.ini", "Mode=x\r\n");
    EXPECT_FALSE(Reported(mode.messages, mode.comm.inet().LoadInetInf()));
}

// A unit added to sysinf001.csv by hand: the file has one FileName line too few.
TEST(InetInf, AFileThatDoesNotLoadIsReportedAndOnlyReplacedWhenTheOperatorSaysSo)
{
    Station st;
    fill(st.comm, 3);
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    const QByteArray original = st.readBytes("InetInf.ini");
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = 4; });
    EXPECT_FALSE(Reported(st.messages, st.comm.inet().LoadInetInf()));
    EXPECT_TRUE(st.comm.inet().InetInfUnreadable());
    ASSERT_EQ(st.messages.shown.size(), 1u);
    EXPECT_TRUE(st.messages.shown[0].notice);
    EXPECT_TRUE(st.messages.shown[0].text.contains("InetInf.ini 11 行目"));
    EXPECT_TRUE(st.messages.shown[0].text.contains("FileName4= のはずが TimeOut= です"));
    EXPECT_FALSE(Reported(st.messages, st.comm.inet().LoadInetInf())); // the next activation does not repeat it
    EXPECT_EQ(st.messages.shown.size(), 1u);

    // A settings window saves the defaults now in memory: asked, and Cancel writes nothing.
    st.messages.answers = {MessageBoxService::Answer::Cancel};
    EXPECT_FALSE(Reported(st.messages, st.comm.inet().SaveInetInf()));
    ASSERT_EQ(st.messages.shown.size(), 2u);
    EXPECT_EQ(st.messages.shown[1].buttons, MessageBoxService::Buttons::OkCancel);
    EXPECT_EQ(st.readBytes("InetInf.ini"), original);
    EXPECT_FALSE(QFileInfo::exists(st.path("InetInf.ini.bak")));

    // OK replaces it and keeps the old file beside it; later saves ask no more.
    EXPECT_TRUE(st.comm.inet().SaveInetInf());
    EXPECT_EQ(st.readBytes("InetInf.ini.bak"), original);
    EXPECT_TRUE(st.readBytes("InetInf.ini").startsWith("Mode=2\r\n"));
    EXPECT_TRUE(st.comm.inet().SaveInetInf());
    EXPECT_EQ(st.messages.shown.size(), 3u);
    EXPECT_TRUE(st.comm.inet().LoadInetInf());
}

// Rec= 101: the units the file counts are not known, so the file is neither read nor replaced.
TEST(InetInf, WhileTheSystemFileDoesNotLoadTheFileIsNeitherLoadedNorReplaced)
{
    Station st;
    fill(st.comm, 2);
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    const QByteArray original = st.readBytes("InetInf.ini");
    st.writeBytes("sysinf001.csv", "sysinf001.csv,Rec= 101,\r\n");
    st.comm.sys().LoadSysInf();
    EXPECT_EQ(st.comm.inet().LoadInetInf().fault, Fault::NotLoaded); // the system file's fault, not this one's
    EXPECT_TRUE(st.comm.inet().SaveInetInf().detail.contains(QStringLiteral("先にシステムファイルを直して下さい")));
    EXPECT_EQ(st.readBytes("InetInf.ini"), original);
}

TEST(InetInf, ALoadErrorNamesNoValue)
{
    Station st;
    for (const char* text :
         {"Mode=0 FTP=h ID=u PassWord=Zecret", "Mode=0\r\nMode2=0\r\nZecret=x\r\n", "Mode=0\r\nMode2=Zecret\r\n"}) {
        st.writeBytes("InetInf.ini", text);
        EXPECT_FALSE(st.comm.inet().LoadInetInf().detail.contains(QStringLiteral("Zecret"))) << text;
    }
}

TEST(InetInf, ALineOutOfPlaceOrAModeOutOfRangeFailsTheLoad)
{
    Station writer;
    fill(writer.comm, 2);
    ASSERT_TRUE(writer.comm.inet().SaveInetInf());
    const QByteArray good = writer.readBytes("InetInf.ini");
    auto loads = [](const QByteArray& text) {
        Station st;
        EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = 2; });
        EditInet(st.comm, [&](InternetSettings& s) { s.MailBody = "before"; });
        st.writeBytes("InetInf.ini", text);
        const Outcome loaded = st.comm.inet().LoadInetInf();
        Notify(st.messages, loaded);
        const bool ok = loaded.ok();
        EXPECT_EQ(st.comm.inet().InternetSettings().MailBody, ok ? "よろしく" : "before"); // never a neighbour's value
        EXPECT_EQ(st.messages.shown.size(), ok ? 0u : 1u);
        return ok;
    };
    EXPECT_TRUE(loads(good));
    QByteArray extra = good;
    extra.replace("TimeOut=", "FileName3=x\r\nTimeOut=");
    EXPECT_FALSE(loads(extra));
    QByteArray misspelt = good;
    misspelt.replace("RemoteDir=", "RemoteDri=");
    EXPECT_FALSE(loads(misspelt));
    QByteArray keyless = good;
    keyless.replace("ID=user", "user");
    EXPECT_FALSE(loads(keyless));
    QByteArray cut = good;
    cut.truncate(cut.indexOf("Camera4="));
    EXPECT_FALSE(loads(cut));
    for (const char* mode : {"Mode=99", "Mode=-1", "Mode=1000", "Mode=3.5", "Mode=", "Mode=2.0"}) {
        QByteArray bad = good;
        bad.replace("Mode=0", mode);
        EXPECT_FALSE(loads(bad)) << mode;
    }
    QByteArray mode3 = good;
    mode3.replace("Mode=0", "Mode=3");
    EXPECT_TRUE(loads(mode3));
    QByteArray mode2 = good;
    mode2.replace("Mode2=0", "Mode2=7");
    EXPECT_FALSE(loads(mode2));
}

TEST(InetInf, SavesKeepTheOwnersModeAndLeftOversOfACrashAreRemoved)
{
    Station st;
    fill(st.comm, 1);
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    const auto mode = [&](const char* name) { return QFileInfo(st.path(name)).permissions(); };
    EXPECT_EQ(mode("InetInf.ini"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    const auto groupReadable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup;
    QFile::setPermissions(st.path("InetInf.ini"), groupReadable);
    EditInet(st.comm, [&](InternetSettings& s) { s.PassWord.clear(); });
    EditInet(st.comm, [&](InternetSettings& s) { s.DialUpPass.clear(); });
    ASSERT_TRUE(Reported(st.messages, st.comm.inet().SaveInetInf()));
    EXPECT_EQ(mode("InetInf.ini"), groupReadable);
    // a password saved into it takes the group's access away, and says so once
    EditInet(st.comm, [&](InternetSettings& s) { s.PassWord = QStringLiteral("pw"); });
    ASSERT_TRUE(Reported(st.messages, st.comm.inet().SaveInetInf()));
    ASSERT_TRUE(Reported(st.messages, st.comm.inet().SaveInetInf()));
    EXPECT_EQ(mode("InetInf.ini"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    ASSERT_EQ(st.messages.shown.size(), 1u);
    EXPECT_TRUE(st.messages.shown[0].text.contains(QStringLiteral("パスワード")));

    // A save killed before its rename leaves ".InetInf.ini.XXXXXX"; the next load removes it.
    st.writeBytes(".InetInf.ini.a1B2c3", "PassWord=x\r\n");
    st.writeBytes(".InetInf.ini.keep", "not ours");
    st.writeBytes(".sysinf001.csv.Zz9Yy8", "half");
    EXPECT_TRUE(st.comm.inet().LoadInetInf());
    EXPECT_FALSE(QFileInfo::exists(st.path(".InetInf.ini.a1B2c3")));
    EXPECT_TRUE(QFileInfo::exists(st.path(".InetInf.ini.keep")));
    st.comm.sys().LoadSysInf();
    EXPECT_FALSE(QFileInfo::exists(st.path(".sysinf001.csv.Zz9Yy8")));
}

TEST(InetInf, AValueRunsFromTheFirstEqualsSign)
{
    Station st;
    fill(st.comm, 1);
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    QByteArray text = st.readBytes("InetInf.ini");
    text.replace("URL=http", "url=a=b");
    Station other;
    EditSys(other.comm, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    other.writeBytes("InetInf.ini", text);
    ASSERT_TRUE(other.comm.inet().LoadInetInf()); // keys compare without regard to case
    EXPECT_EQ(other.comm.inet().InternetSettings().URL, "a=b://127.0.0.1/relay");
}

TEST(InetInf, LineBreaksNeverReachTheFile)
{
    Station st;
    fill(st.comm, 1);
    EditInet(st.comm, [&](InternetSettings& s) { s.MailBody = "line one\r\nline two\nthree"; });
    EditInet(st.comm, [&](InternetSettings& s) { s.FTP = "a\rb"; });
    ASSERT_TRUE(st.comm.inet().SaveInetInf());
    Station other;
    EditSys(other.comm, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    other.writeBytes("InetInf.ini", st.readBytes("InetInf.ini"));
    ASSERT_TRUE(other.comm.inet().LoadInetInf());
    EXPECT_EQ(other.comm.inet().InternetSettings().MailBody, "line one line two three");
    EXPECT_EQ(other.comm.inet().InternetSettings().FTP, "a b");
    EXPECT_EQ(other.comm.inet().InternetSettings().Camera[0], "cam1");
}

TEST(InetInf, FailedSaveShowsItsMessage)
{
    Station st;
    InetInf elsewhere(st.path("gone"), st.messages, st.comm.sys());
    EXPECT_FALSE(Reported(st.messages, elsewhere.SaveInetInf()));
    ASSERT_EQ(st.messages.shown.size(), 1u);
    EXPECT_EQ(st.messages.shown[0].text, QStringLiteral("設定ファイル書き込みエラー"));
    EXPECT_EQ(st.messages.shown[0].buttons, MessageBoxService::Buttons::Ok);
}

TEST(ScramblePass, ResetUndoesSetOverEveryPrintableCharacter)
{
    QString all;
    for (int c = 32; c <= 126; ++c)
        all += QChar(c);
    const QString shifted = InetInf::ScramblePass("SET", all);
    EXPECT_NE(shifted, all);
    EXPECT_EQ(InetInf::ScramblePass("RESET", shifted), all);
    for (QChar c : shifted)
        EXPECT_TRUE(c.unicode() >= 32 && c.unicode() <= 126);
    // every printable character moves, and the shift is a permutation of the range
    EXPECT_EQ(QSet<QChar>(shifted.begin(), shifted.end()).size(), 95);
    for (int i = 0; i < all.size(); ++i)
        EXPECT_NE(shifted[i], all[i]);
}

TEST(ScramblePass, LeavesOtherCharactersAndKnowsItsWords)
{
    const QString text = QStringLiteral("日本語ｱ\tpass");
    const QString shifted = InetInf::ScramblePass("set", text);
    EXPECT_EQ(shifted.left(5), text.left(5));
    EXPECT_NE(shifted.mid(5), text.mid(5));
    EXPECT_EQ(InetInf::ScramblePass("Reset", shifted), text);
    EXPECT_EQ(InetInf::ScramblePass("other", text), QString());
    // wrap-around at both ends of the range
    EXPECT_EQ(InetInf::ScramblePass("SET", " "), QString(QChar(127 - InetInf::PassShift)));
    EXPECT_EQ(InetInf::ScramblePass("RESET", "~"), QString(QChar(31 + InetInf::PassShift)));
}

TEST(InetInf, CommModeFollowsModeAndSendFolder)
{
    Station st;
    auto s = st.comm.inet().InternetSettings();
    s.Mode = 0;
    st.comm.inet().Commit(s);
    EXPECT_EQ(st.comm.inet().CommMode(), CommModeKind::InternetUpload);
    s.Mode = 1;
    st.comm.inet().Commit(s);
    EXPECT_EQ(st.comm.inet().CommMode(), CommModeKind::InternetDownload);
    s.Mode = 2;
    st.comm.inet().Commit(s);
    EXPECT_EQ(st.comm.inet().CommMode(), CommModeKind::LanDownload);
    s.Mode = 3;
    st.comm.inet().Commit(s);
    EXPECT_EQ(st.comm.inet().CommMode(), CommModeKind::PlainLan);
    s.SendFordername = "host\\share";
    st.comm.inet().Commit(s);
    EXPECT_EQ(st.comm.inet().CommMode(), CommModeKind::LanUpload);
}

TEST(InetInf, HandEditedRelayNamesNeverBuildAPath)
{
    Station st;
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = 5; });
    QByteArray text =
        "Mode=1\r\nMode2=0\r\nFTP=\r\nID=\r\nPassWord=\r\nRemoteDir=\r\nURL=\r\n"
        "FileName1=ok12345\r\nFileName2=../etc\r\nFileName3=toolong123\r\nFileName4=\x83\x7c\r\nFileName5=a b\r\n"
        "TimeOut=3\r\nNotReadSize=5\r\n";
    for (const char* key :
         {"ProxyServerName", "ProxyPortNo", "SMTPServerName", "SendMailName", "MailHeader", "MailBody", "DialUpName",
          "DialUpUser", "DialUpPass", "SendFordername", "Camera1", "Camera2", "Camera3", "Camera4"})
        text += QByteArray(key) + "=\r\n";
    st.writeBytes("InetInf.ini", text);
    ASSERT_TRUE(st.comm.inet().LoadInetInf());
    EXPECT_EQ(st.comm.inet().RelayFileName(0), "ok12345");
    EXPECT_EQ(st.comm.inet().InternetSettings().FileName[1], "../etc"); // kept as read, so a save does not lose it
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(st.comm.inet().RelayFileName(i), QString()) << i;
    EXPECT_EQ(st.comm.inet().RelayFileName(-1), QString());
    EXPECT_EQ(st.comm.inet().RelayFileName(100), QString());
}
