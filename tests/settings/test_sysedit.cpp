// The system settings window driven by its control names on a temporary working directory.

#include "Station.h"
#include "settings/SysEdit.h"
#include "SysInfWriter.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QFile>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

using Answer = MessageBoxService::Answer;

struct SysEditRig {
    Station st;
    std::unique_ptr<SysEdit> w;

    explicit SysEditRig(int units, int cycle = 1)
    {
        QList<UnitRow> rows;
        for (int i = 0; i < units; ++i) {
            UnitRow r;
            r.name = QStringLiteral("機械%1").arg(i);
            r.ip = QStringLiteral("10.0.%1.%2").arg(i / 200).arg(i % 200 + 1);
            r.port = 1502 + i;
            r.arm = QStringLiteral("Ain: 1:High");
            rows << r;
        }
        if (units > 0) {
            TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows, cycle));
            QStringList names;
            for (int i = 0; i < units; ++i)
                names << QStringLiteral("F%1").arg(i);
            TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(1, names));
            EXPECT_TRUE(st.comm.sys().LoadSysInf());
            EXPECT_TRUE(st.comm.inet().LoadInetInf());
        }
        open();
    }
    void open()
    {
        w = std::make_unique<SysEdit>(st.comm);
        w->show();
    }
    void fill(const QString& name, const QString& ip, const QString& lcd = "0", const QString& io = "1502",
              const QString& rs = "0")
    {
        control<QComboBox>(*w, "DevName")->setEditText(name);
        const QStringList parts = ip.split(u'.');
        for (int i = 0; i < 4; ++i)
            setText(*w, QStringLiteral("IPtext_%1").arg(i), parts.value(i));
        setText(*w, "LCDtext_0", lcd);
        setText(*w, "IOtext_1", io);
        setText(*w, "RStext_2", rs);
    }
    QString lastMessage() const { return st.messages.shown.empty() ? QString() : st.messages.shown.back().text; }
};

} // namespace

TEST(SysEdit, AddChecksEachFieldInOrderAndStoresTheRow)
{
    SysEditRig rig(2);
    SysEdit& w = *rig.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("システム設定"));
    EXPECT_EQ(control<QComboBox>(w, "DevName")->currentText(), QStringLiteral("機械0"));
    EXPECT_EQ(text(w, "IPtext_3"), QStringLiteral("1"));

    struct Case {
        QString name, ip, lcd, io, rs, message;
    };
    const std::vector<Case> cases = {
        {"機械1", "10.0.0.9", "0", "1", "0", "装置名称が重複しています"},
        {"新,機", "10.0.0.9", "0", "1", "0", "名称に「,」(カンマ)は使用できません"},
        {"新", "256.0.0.9", "0", "1", "0", "IPAddressが範囲外です"},
        {"新", "10.-1.0.9", "0", "1", "0", "IPAddressが範囲外です"},
        {"新", "10.0.abc.9", "0", "1", "0", "IPAddressが範囲外です"},
        {"新", "10.0.0.", "0", "1", "0", "IPAddressが範囲外です"},
        {"新", "10.0.0.2", "0", "1", "0", "IPAddressが重複しています"},
        {"新", "10.0.0.9", "32768", "1", "0", "LCDﾎﾟｰﾄ番号が範囲外です"},
        {"新", "10.0.0.9", "0", "x", "0", "ﾊﾟﾗﾚﾙﾎﾟｰﾄ番号が範囲外です"},
        {"新", "10.0.0.9", "0", "1", "-1", "ｼﾘｱﾙﾎﾟｰﾄ番号が範囲外です"},
    };
    for (const auto& c : cases) {
        rig.st.messages.shown.clear();
        rig.fill(c.name, c.ip, c.lcd, c.io, c.rs);
        click(w, "Command1");
        ASSERT_EQ(rig.st.messages.shown.size(), 1u) << c.message.toStdString();
        EXPECT_EQ(rig.lastMessage(), c.message);
        EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("確認"));
        EXPECT_EQ(rig.st.messages.shown[0].icon, MessageBoxService::Icon::Exclamation);
        EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 2);
    }

    // Cancel at the question changes nothing; OK adds and selects the new unit.
    rig.st.messages.shown.clear();
    rig.fill("新", " 10.0.0.9 ", " 7", "32767", "2.4");
    click(w, "Option1_1");
    click(w, "Option2_23");
    click(w, "Option3_1");
    control<QComboBox>(w, "BPScombo")->setCurrentIndex(4);
    rig.st.messages.answers = {Answer::Cancel};
    click(w, "Command1");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"追加してもよろしいですか？"});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("追加"));
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 2);
    click(w, "Command1");
    ASSERT_EQ(rig.st.comm.sys().DeviceCount(), 3);
    const DeviceRecord& row = rig.st.comm.sys().DeviceTable()[2];
    EXPECT_EQ(row[ColName], QStringLiteral("新"));
    EXPECT_EQ(row[ColIP], QStringLiteral("10.0.0.9"));
    EXPECT_EQ(row[ColLCD], QStringLiteral("7"));
    EXPECT_EQ(row[ColIO], QStringLiteral("32767"));
    EXPECT_EQ(row[ColRS], QStringLiteral("2.4"));
    EXPECT_EQ(row[ColBPS], QStringLiteral("115200"));
    EXPECT_EQ(row[ColRA0], QStringLiteral("Ain"));
    EXPECT_EQ(row[ColRB0 + 7], QStringLiteral("Dout"));
    EXPECT_EQ(row[ColControl], QStringLiteral("Off"));
    EXPECT_EQ(row[ColArm], QStringLiteral("non"));
    EXPECT_EQ(control<QComboBox>(w, "DevName")->count(), 3);
    EXPECT_EQ(control<QComboBox>(w, "DevName")->currentIndex(), 2);
    EXPECT_TRUE(rig.st.comm.inet().InternetSettings().FileName[2].isEmpty());
    EXPECT_TRUE(w.dirty());
}

TEST(SysEdit, AddBeyondAHundredUnitsIsRefusedAfterTheQuestion)
{
    SysEditRig rig(100);
    rig.fill("百一", "10.1.1.1");
    click(*rig.w, "Command1");
    EXPECT_EQ(rig.st.messageTexts(), QStringList({"追加してもよろしいですか？", "最大登録件数(100)を超えました．"}));
    EXPECT_EQ(rig.st.messages.shown[1].title, QStringLiteral("追加"));
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 100);
    EXPECT_TRUE(rig.st.comm.sys().DeviceTable()[100][ColName].isEmpty());
}

TEST(SysEdit, ChangeTestsNamesOnlyWhenRenamedAndClearsTheAlarm)
{
    SysEditRig rig(3);
    SysEdit& w = *rig.w;
    EditSys(rig.st.comm, [&](SysInf::Content& t) { t.DeviceTable[1][ColBPS] = QStringLiteral("4800"); });
    control<QComboBox>(w, "DevName")->setCurrentIndex(1);
    emit control<QComboBox>(w, "DevName")->activated(1);
    EXPECT_EQ(control<QComboBox>(w, "BPScombo")->currentText(), QStringLiteral("9600bps"));

    // Another unit's address is accepted here, its name is not.
    setText(w, "IPtext_3", "1");
    click(w, "Command5");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"変更してもよろしいですか？"});
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColIP], QStringLiteral("10.0.0.1"));
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColBPS], QStringLiteral("9600"));
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColArm], QStringLiteral("non"));
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[0][ColArm], QStringLiteral("Ain: 1:High"));

    rig.st.messages.shown.clear();
    control<QComboBox>(w, "DevName")->setEditText(QStringLiteral("機械2"));
    click(w, "Command5");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"装置名称が重複しています"});
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColName], QStringLiteral("機械1"));

    // A rename applies to the row but the list keeps the old name until the next refresh.
    rig.st.messages.shown.clear();
    control<QComboBox>(w, "DevName")->setEditText(QStringLiteral("ポンプ"));
    click(w, "Command5");
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColName], QStringLiteral("ポンプ"));
    EXPECT_EQ(control<QComboBox>(w, "DevName")->itemText(1), QStringLiteral("機械1"));
    // ... and the renamed unit no longer matches an entry, so it cannot be deleted from here.
    rig.st.messages.shown.clear();
    click(w, "Command3");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"編集されたデータの削除はできません"});
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 3);
}

TEST(SysEdit, DeleteRefusesEditedFieldsAndMovesTheOthersUp)
{
    SysEditRig rig(3);
    TextFile::writeWhole(
        rig.st.path("ChannelInf.csv"),
        QStringLiteral("ユニット,チャンネル,タグ名,単位,生値下限,生値上限,工学値下限,工学値上限,小数桁,ON表示,"
                       "OFF表示\r\n001,RB0,弁,,,,,,,開,閉\r\n002,RB0,扉,,,,,,,開,閉\r\n"));
    ASSERT_TRUE(rig.st.comm.channels().load());
    rig.open();
    SysEdit& w = *rig.w;
    // The last unit of one cannot go; edited or typed fields are refused with one message.
    control<QComboBox>(w, "DevName")->setCurrentIndex(1);
    emit control<QComboBox>(w, "DevName")->activated(1);
    setText(w, "LCDtext_0", "5");
    click(w, "Command3");
    setText(w, "LCDtext_0", "0");
    setText(w, "IPtext_0", "abc");
    click(w, "Command3");
    setText(w, "IPtext_0", "10");
    control<QComboBox>(w, "DevName")->setEditText(QStringLiteral("無い"));
    click(w, "Command3");
    EXPECT_EQ(rig.st.messageTexts(), QStringList(3, QStringLiteral("編集されたデータの削除はできません")));
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 3);

    rig.st.messages.shown.clear();
    control<QComboBox>(w, "DevName")->setEditText(QStringLiteral("機械1"));
    rig.st.messages.answers = {Answer::Cancel};
    click(w, "Command3");
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 3);
    click(w, "Command3");
    EXPECT_EQ(rig.st.messageTexts(), QStringList(2, QStringLiteral("削除してもよろしいですか？")));
    ASSERT_EQ(rig.st.comm.sys().DeviceCount(), 2);
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[0][ColName], QStringLiteral("機械0"));
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColName], QStringLiteral("機械2"));
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[1][ColArm], QStringLiteral("Ain: 1:High"));
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().FileName[0], QStringLiteral("F0"));
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().FileName[1], QStringLiteral("F2"));
    EXPECT_EQ(control<QComboBox>(w, "DevName")->count(), 2);
    EXPECT_EQ(control<QComboBox>(w, "DevName")->currentText(), QStringLiteral("機械0"));
    // The channel words go with their unit, saved with the table.
    click(w, "Command4");
    EXPECT_EQ(rig.st.readBytes("ChannelInf.csv").split('\n').mid(1),
              (QList<QByteArray>{TextFile::encode(QStringLiteral("001,RB0,扉,,,,,,,開,閉\r")), ""}));
}

TEST(SysEdit, DeleteWithOneUnitAsksNothing)
{
    SysEditRig rig(1);
    click(*rig.w, "Command3");
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 1);
}

TEST(SysEdit, LeavingUntouchedWritesNoFile)
{
    SysEditRig rig(2);
    QFile::remove(rig.st.path("sysinf001.csv"));
    QFile::remove(rig.st.path("InetInf.ini"));
    click(*rig.w, "Command4");
    EXPECT_FALSE(rig.w->isVisible());
    EXPECT_EQ(rig.w->result(), QDialog::Accepted);
    EXPECT_FALSE(QFile::exists(rig.st.path("sysinf001.csv")));
    EXPECT_FALSE(QFile::exists(rig.st.path("InetInf.ini")));
}

TEST(SysEdit, AStoredAddressShowsWholeSoItsRowCanStillBeDeleted)
{
    SysEditRig rig(2);
    rig.st.comm.sys().SetCell(1, ColIP, QStringLiteral("10.0.0.0010"));
    rig.open();
    SysEdit& w = *rig.w;
    control<QComboBox>(w, "DevName")->setCurrentIndex(1);
    emit control<QComboBox>(w, "DevName")->activated(1);
    EXPECT_EQ(text(w, "IPtext_3"), QStringLiteral("0010"));
    rig.st.messages.answers = {Answer::Ok};
    click(w, "Command3");
    EXPECT_TRUE(rig.st.messageTexts() == QStringList{"削除してもよろしいですか？"}) << rig.lastMessage().toStdString();
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 1);
}

TEST(SysEdit, AButtonToggledByAScreenReaderCountsAsAChangeButShowingAUnitDoesNot)
{
    SysEditRig rig(2);
    SysEdit& w = *rig.w;
    QAccessibleInterface* name = QAccessible::queryAccessibleInterface(control<QComboBox>(w, "DevName")->lineEdit());
    ASSERT_TRUE(name);
    EXPECT_EQ(name->text(QAccessible::Name), QStringLiteral("名称"));

    // Showing units whose stored values differ moves the buttons without the operator.
    const QString stored = checked(w, "Option4_3") ? QStringLiteral("n") : QStringLiteral("h");
    EditSys(rig.st.comm, [&](SysInf::Content& t) { t.MonitorSettings.TimeOutCyclType = stored; });
    control<QComboBox>(w, "DevName")->setCurrentIndex(1);
    emit control<QComboBox>(w, "DevName")->activated(1);
    EXPECT_FALSE(w.dirty());

    QRadioButton* other = control<QRadioButton>(w, checked(w, "Option4_1") ? "Option4_2" : "Option4_1");
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(other);
    ASSERT_TRUE(button && button->actionInterface());
    button->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(other->isChecked());
    EXPECT_TRUE(w.dirty());
}

TEST(SysEdit, CycleTakesTwoCharactersAndRefusesZero)
{
    SysEditRig rig(1);
    SysEdit& w = *rig.w;
    type(w, "Cycltext", "120");
    click(w, "Option4_1");
    type(w, "TimeComm", "x5");
    click(w, "Command4");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"ﾀｲﾑｱｳﾄは1以上の数値を入力してください"});
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().MoniterCycl, 1); // nothing taken from the boxes yet

    type(w, "TimeComm", "7");
    click(w, "Option4_5");
    click(w, "Command4");
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().MoniterCycl, 12);
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().MoniterCyclType, QStringLiteral("n"));
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().TimeOut, 7);
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().TimeOutCyclType, QStringLiteral("s"));
    EXPECT_TRUE(rig.st.readBytes("sysinf001.csv").contains("MoniterCycl= 12,MoniterCyclType=n,TimeOut= 7,"));
}

TEST(SysEdit, FirstStartWithoutFilesRegistersAUnitThatTheNextLoadKeeps)
{
    SysEditRig rig(0);
    SysEdit& w = *rig.w;
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().TimeOut, 10);
    EXPECT_EQ(text(w, "Cycltext"), QStringLiteral("0"));
    EXPECT_TRUE(checked(w, "Option4_0"));
    EXPECT_TRUE(checked(w, "Option4_3"));
    rig.fill("第一", "127.0.0.11");
    click(w, "Option3_0");
    click(w, "Command1");
    ASSERT_EQ(rig.st.comm.sys().DeviceCount(), 1);

    // A cycle of 0 would be refused by the next load and lose the unit: the window stays.
    rig.st.messages.shown.clear();
    click(w, "Command4");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"モニタ周期は1以上の数値を入力してください"});
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(QFile::exists(rig.st.path("sysinf001.csv")));

    type(w, "Cycltext", "5");
    click(w, "Option4_2");
    click(w, "Command4");
    EXPECT_FALSE(w.isVisible());
    EditSys(rig.st.comm, [&](SysInf::Content& t) { t.DeviceCount = 0; });
    ASSERT_TRUE(rig.st.comm.sys().LoadSysInf());
    EXPECT_EQ(rig.st.comm.sys().DeviceCount(), 1);
    EXPECT_EQ(rig.st.comm.sys().DeviceTable()[0][ColName], QStringLiteral("第一"));
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().MoniterCycl, 5);
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadCycl, 1);
    EXPECT_EQ(rig.st.comm.sys().MonitorSettings().ReloadSize, 1);
    EXPECT_TRUE(rig.st.comm.inet().LoadInetInf());
}

TEST(SysEdit, ControlsCarryAccessibleNamesAndTheTimeOutGroupFollowsTheMode)
{
    SysEditRig rig(2);
    SysEdit& w = *rig.w;
    EXPECT_EQ(control<QLineEdit>(w, "IPtext_0")->accessibleName(), QStringLiteral("IPｱﾄﾞﾚｽ 1"));
    EXPECT_EQ(control<QLineEdit>(w, "IPtext_3")->accessibleName(), QStringLiteral("IPｱﾄﾞﾚｽ 4"));
    EXPECT_EQ(control<QLineEdit>(w, "Cycltext")->accessibleName(), QStringLiteral("モニタ周期設定"));
    EXPECT_EQ(control<QLineEdit>(w, "TimeComm")->accessibleName(), QStringLiteral("ﾀｲﾑｱｳﾄ設定"));
    EXPECT_EQ(control<QRadioButton>(w, "Option2_9")->parentWidget()->accessibleName(), QStringLiteral("RB3"));
    EXPECT_EQ(control<QRadioButton>(w, "Option1_1")->parentWidget()->accessibleName(), QStringLiteral("RA0"));
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(c) && c->parentWidget() != control<QComboBox>(w, "DevName")) {
            EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
        }
    }
    w.SetTimeOutGroupEnabled(false);
    EXPECT_FALSE(control<QLineEdit>(w, "TimeComm")->isEnabled());
    EXPECT_FALSE(control<QRadioButton>(w, "Option4_5")->isEnabled());
    EXPECT_TRUE(control<QRadioButton>(w, "Option4_2")->isEnabled());
    snap(w, QStringLiteral("SysEdit"));
}
