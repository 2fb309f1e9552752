// The two communication mode windows driven by their control names.

#include "settings/ComEdit.h"
#include "settings/ComEdit2.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "WindowDriver.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

struct CommRig {
    Station st;
    explicit CommRig(int mode, const QString& folder = QString(), int mode2 = 1)
    {
        EditInet(st.comm, [&](InternetSettings& s) { s.Mode = int16_t(mode); });
        EditInet(st.comm, [&](InternetSettings& s) { s.Mode2 = int16_t(mode2); });
        EditInet(st.comm, [&](InternetSettings& s) { s.SendFordername = folder; });
    }
    bool written() const { return QFile::exists(st.path("InetInf.ini")); }
};

} // namespace

TEST(ComEdit, LoadsEachModeAndStoresItBack)
{
    struct Case {
        int mode;
        int item;
        int option;
        bool folderEnabled;
        QString shownFolder;
    };
    for (const Case& c : {Case{0, 0, 0, false, ""}, Case{1, 1, 0, false, ""}, Case{2, 1, 1, true, ""},
                          Case{3, 0, 1, true, "peer\\share"}}) {
        CommRig rig(c.mode, "peer\\share");
        ComEdit w(rig.st.comm);
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("通信設定"));
        EXPECT_EQ(control<QComboBox>(w, "ModeCombo")->currentIndex(), c.item);
        EXPECT_TRUE(checked(w, QStringLiteral("ModeOpt_%1").arg(c.option)));
        EXPECT_EQ(control<QLineEdit>(w, "txtFname")->isEnabled(), c.folderEnabled);
        EXPECT_EQ(control<QLabel>(w, "lblFname")->isEnabled(), c.folderEnabled);
        EXPECT_EQ(control<QPushButton>(w, "InetCmd")->isEnabled(), c.option == 0);
        EXPECT_EQ(text(w, "txtFname"), c.shownFolder);
        EXPECT_EQ(w.choiceIndex(), c.item);
        // the LAN option's handler leaves the working mode at 2 until "終了"
        EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, c.option == 1 ? 2 : c.mode);
        click(w, "EndCmd");
        EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, c.mode);
        EXPECT_EQ(w.result(), QDialog::Accepted);
        ASSERT_TRUE(rig.written()); // always written, changed or not
        EXPECT_TRUE(rig.st.comm.inet().LoadInetInf());
        EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, c.mode);
    }
}

TEST(ComEdit, LanWithUploadStoresModeThreeAndTheFolder)
{
    CommRig rig(0, "old");
    ComEdit w(rig.st.comm);
    click(w, "ModeOpt_1");
    EXPECT_TRUE(control<QLineEdit>(w, "txtFname")->isEnabled());
    EXPECT_FALSE(control<QPushButton>(w, "InetCmd")->isEnabled());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, 2);
    type(w, "txtFname", "pc1\\data");
    click(w, "EndCmd");
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, 3);
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().SendFordername, QStringLiteral("pc1\\data"));
    EXPECT_EQ(rig.st.comm.inet().CommMode(), CommModeKind::LanUpload);
}

TEST(ComEdit, ModeTwoEmptiesTheFolderAndDownloadOverTheInternetIsModeOne)
{
    CommRig rig(2, "kept");
    {
        ComEdit w(rig.st.comm);
        click(w, "EndCmd");
    }
    EXPECT_TRUE(rig.st.comm.inet().InternetSettings().SendFordername.isEmpty());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, 2);

    ComEdit w(rig.st.comm);
    click(w, "ModeOpt_0");
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, 1); // the combo item then current
    control<QComboBox>(w, "ModeCombo")->setCurrentIndex(0);
    emit control<QComboBox>(w, "ModeCombo")->activated(0);
    EXPECT_EQ(w.choiceIndex(), 0);
    bool opened = false;
    w.showInetSettings = [&](QWidget*) {
        opened = true;
        EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, 0); // stored before the window opens
    };
    click(w, "InetCmd");
    EXPECT_TRUE(opened);
    EXPECT_TRUE(rig.written());
}

TEST(ComEdit, ModeOutsideTheTableSetsNothingAndEndsAsModeThree)
{
    for (int mode : {-1, 4, 99}) {
        CommRig rig(mode);
        ComEdit w(rig.st.comm);
        EXPECT_FALSE(checked(w, "ModeOpt_0"));
        EXPECT_FALSE(checked(w, "ModeOpt_1"));
        EXPECT_EQ(control<QComboBox>(w, "ModeCombo")->currentIndex(), 0); // Qt shows the first item; no handler ran
        EXPECT_EQ(w.choiceIndex(), 0);
        click(w, "EndCmd");
        EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode, 3);
    }
}

TEST(ComEdit2, WritesOnlyWhenTheChoiceChanged)
{
    CommRig rig(2, "", 1);
    {
        ComEdit2 w(rig.st.comm);
        EXPECT_TRUE(checked(w, "ModeOpt_1"));
        EXPECT_FALSE(control<QPushButton>(w, "InetCmd")->isEnabled());
        click(w, "EndCmd");
        EXPECT_EQ(w.result(), QDialog::Accepted);
    }
    EXPECT_FALSE(rig.written());

    ComEdit2 w(rig.st.comm);
    click(w, "ModeOpt_0");
    EXPECT_TRUE(control<QPushButton>(w, "InetCmd")->isEnabled());
    int opened = 0;
    w.showInetSettings = [&](QWidget*) { ++opened; };
    click(w, "InetCmd");
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(rig.written()); // nothing stored before the Internet settings
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode2, 1);
    click(w, "EndCmd");
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode2, 0);
    ASSERT_TRUE(rig.written());
    EditInet(rig.st.comm, [&](InternetSettings& s) { s.Mode2 = 5; });
    EXPECT_TRUE(rig.st.comm.inet().LoadInetInf());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode2, 0);
}

TEST(ComEdit2, ClosingByTheCloseBoxChangesNothing)
{
    CommRig rig(2, "", 0);
    ComEdit2 w(rig.st.comm);
    w.show();
    click(w, "ModeOpt_1");
    w.close();
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().Mode2, 0);
    EXPECT_FALSE(rig.written());
}

TEST(ComEdit, Screenshots)
{
    CommRig rig(3, "pc1\\data");
    ComEdit w(rig.st.comm);
    ComEdit2 w2(rig.st.comm);
    EXPECT_EQ(control<QLineEdit>(w, "txtFname")->accessibleName(), control<QLabel>(w, "lblFname")->text());
    EXPECT_FALSE(control<QComboBox>(w, "ModeCombo")->accessibleName().isEmpty());
    EXPECT_GE(w.width(), w.minimumSizeHint().width());
    snap(w, QStringLiteral("ComEdit"));
    snap(w2, QStringLiteral("ComEdit2"));
}

TEST(ComEdit, AfterAFailedLoadEndAsksBeforeReplacingTheFile)
{
    CommRig rig(0);
    rig.st.writeBytes("InetInf.ini", "Mode=0\r\nMode2=0\r\nFTP=ftp.example\r\n"); // cut short
    EXPECT_FALSE(rig.st.comm.inet().LoadInetInf());
    ComEdit w(rig.st.comm);
    rig.st.messages.answers = {MessageBoxService::Answer::Cancel};
    click(w, "EndCmd");
    EXPECT_EQ(rig.st.messages.shown.back().buttons, MessageBoxService::Buttons::OkCancel);
    EXPECT_EQ(rig.st.readBytes("InetInf.ini"), "Mode=0\r\nMode2=0\r\nFTP=ftp.example\r\n");
    EXPECT_FALSE(QFile::exists(rig.st.path("InetInf.ini.bak")));
}
