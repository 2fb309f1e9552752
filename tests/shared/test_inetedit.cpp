// The Internet settings window driven by its control names on a temporary working directory.

#include "shared/InetEdit.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "platform/TextFile.h"
#include "WindowDriver.h"

#include <QComboBox>
#include <QFile>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

using Answer = MessageBoxService::Answer;

struct InetRig {
    Station st;
    std::unique_ptr<InetEdit> w;
    explicit InetRig(int units = 3)
    {
        QList<UnitRow> rows;
        QStringList names;
        for (int i = 0; i < units; ++i) {
            UnitRow r;
            r.name = QStringLiteral("機械%1").arg(i);
            rows << r;
            names << QStringLiteral("F%1").arg(i);
        }
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows));
        TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(1, names, "http://host/dir", "cam1"));
        EXPECT_TRUE(st.comm.sys().LoadSysInf());
        EXPECT_TRUE(st.comm.inet().LoadInetInf());
        QFile::remove(st.path("InetInf.ini")); // so a test sees whether the window wrote it
        w = std::make_unique<InetEdit>(st.comm);
        w->show();
    }
    bool written() const { return QFile::exists(st.path("InetInf.ini")); }
    void choose(int unit)
    {
        control<QComboBox>(*w, "DevName")->setCurrentIndex(unit);
        emit control<QComboBox>(*w, "DevName")->activated(unit);
    }
};

} // namespace

TEST(InetEdit, LoadsTheSettingsAndEndsAtOnceWhenNothingChanged)
{
    InetRig rig;
    InetEdit& w = *rig.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("インターネット設定"));
    EXPECT_EQ(text(w, "URLText"), QStringLiteral("http://host/dir"));
    EXPECT_EQ(text(w, "camname_0"), QStringLiteral("cam1"));
    EXPECT_EQ(text(w, "TimeComm"), QStringLiteral(" 3 Min"));
    EXPECT_EQ(control<QSlider>(w, "Slider1")->value(), 3);
    EXPECT_EQ(control<QComboBox>(w, "DevName")->count(), 3);
    EXPECT_EQ(text(w, "FNameText"), QStringLiteral("F0"));
    EXPECT_EQ(control<QLineEdit>(w, "PwdText")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(control<QLineEdit>(w, "frmDialUpPass")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(control<QLineEdit>(w, "camname_3")->accessibleName(), QStringLiteral("カメラ４"));
    EXPECT_EQ(control<QLineEdit>(w, "TimeComm")->accessibleName(), QStringLiteral("ﾀｲﾑｱｳﾄ設定"));
    snap(w, QStringLiteral("InetEdit"));

    click(w, "EndCmd");
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(rig.written());
}

TEST(InetEdit, FileNamesAreCheckedAcrossUnitsAndTheShownOneForItsCharacters)
{
    InetRig rig;
    InetEdit& w = *rig.w;
    const QString dup = QStringLiteral("ファイル名が重複しています");
    const QString bad = QStringLiteral("ファイル名が不正です（英数半角８文字以内）");

    rig.choose(2);
    EXPECT_EQ(text(w, "FNameText"), QStringLiteral("F2"));
    type(w, "FNameText", "F0");
    click(w, "SetCmd");
    type(w, "FNameText", "ABCDEFGHI");
    click(w, "SetCmd");
    type(w, "FNameText", "a-b");
    click(w, "SetCmd");
    EXPECT_EQ(rig.st.messageTexts(), QStringList({dup, bad, bad}));
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("入力チェックエラー"));
    EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
    EXPECT_FALSE(rig.written());

    // A hyphen only counts while its name is the one shown; empty names may repeat.
    rig.choose(0);
    type(w, "FNameText", "");
    rig.choose(1);
    type(w, "FNameText", "");
    rig.st.messages.shown.clear();
    click(w, "SetCmd");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"変更してもよろしいですか？"});
    EXPECT_TRUE(w.isVisible());
    ASSERT_TRUE(rig.written());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().FileName[2], QStringLiteral("a-b"));
    EXPECT_TRUE(rig.st.comm.inet().InternetSettings().FileName[0].isEmpty());
}

TEST(InetEdit, StoresTrimmedWhereTheFileDoesAndOneLinePerSetting)
{
    InetRig rig;
    InetEdit& w = *rig.w;
    type(w, "ProxyName", "proxy.local ");
    type(w, "camname_1", " cam2 ");
    type(w, "IdText", " user ");
    setText(w, "URLText", QStringLiteral("http://a\r\nFTP=evil"));
    control<QSlider>(w, "Slider1")->setValue(12);
    EXPECT_EQ(text(w, "TimeComm"), QStringLiteral(" 12 Min"));
    click(w, "SetCmd");
    const auto& s = rig.st.comm.inet().InternetSettings();
    EXPECT_EQ(s.ProxyServerName, QStringLiteral("proxy.local"));
    EXPECT_EQ(s.Camera[1], QStringLiteral("cam2"));
    EXPECT_EQ(s.ID, QStringLiteral(" user ")); // as typed
    EXPECT_EQ(s.TimeOut, 12);
    const QString file = *TextFile::readAll(rig.st.path("InetInf.ini"));
    EXPECT_TRUE(file.contains(QStringLiteral("\r\nTimeOut=12\r\n")));
    EXPECT_TRUE(file.contains(QStringLiteral("\r\nURL=http://a FTP=evil\r\n")));
    EXPECT_EQ(file.count(QStringLiteral("FTP=")), 2); // the key and the text inside the URL
    EXPECT_FALSE(file.contains(QStringLiteral("\r\nFTP=evil")));
    EXPECT_TRUE(rig.st.comm.inet().LoadInetInf());
    EXPECT_EQ(s.ProxyServerName, QStringLiteral("proxy.local"));
}

TEST(InetEdit, RefusedOrCancelledStoreAsksBeforeEnding)
{
    InetRig rig;
    InetEdit& w = *rig.w;
    rig.choose(1);
    type(w, "FNameText", "bad name");
    rig.st.messages.answers = {Answer::Ok, Answer::Cancel};
    click(w, "EndCmd");
    EXPECT_EQ(rig.st.messageTexts(),
              QStringList({"ファイル名が不正です（英数半角８文字以内）", "終了してもよろしいですか？"}));
    EXPECT_TRUE(w.isVisible());

    // Cancelling the change question, then agreeing to end, leaves the settings as they were.
    type(w, "FNameText", "good");
    rig.st.messages.shown.clear();
    rig.st.messages.answers = {Answer::Cancel, Answer::Ok};
    click(w, "EndCmd");
    EXPECT_EQ(rig.st.messageTexts(), QStringList({"変更してもよろしいですか？", "終了してもよろしいですか？"}));
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().FileName[1], QStringLiteral("F1"));
    EXPECT_FALSE(rig.written());
}
