// The MQTT settings window and the button that opens it.

#include "settings/ComEdit.h"
#include "settings/ComEdit2.h"
#include "settings/MqttEdit.h"
#include "Station.h"
#include "WindowDriver.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <gtest/gtest.h>

TEST(MqttEdit, EveryBoxIsNamedAndWhatIsSavedIsLoadedNextTime)
{
    Station st;
    {
        MqttEdit w(st.dir.path(), st.messages);
        EXPECT_EQ(w.windowTitle(), QStringLiteral("MQTT設定"));
        for (QLineEdit* e : w.findChildren<QLineEdit*>()) {
            EXPECT_FALSE(e->accessibleName().isEmpty()) << e->objectName().toStdString();
            EXPECT_FALSE(e->objectName().isEmpty());
        }
        EXPECT_EQ(control<QLineEdit>(w, "txtPassWord")->echoMode(), QLineEdit::Password);
        setText(w, "txtBroker", QStringLiteral("mqtt://127.0.0.1:1883"));
        setText(w, "txtPassWord", QStringLiteral("pw"));
        control<QCheckBox>(w, "chkDiscovery")->setChecked(true);
        click(w, "OKCmd");
        EXPECT_TRUE(w.saved());
    }
    MqttEdit again(st.dir.path(), st.messages);
    EXPECT_EQ(text(again, "txtBroker"), QStringLiteral("mqtt://127.0.0.1:1883"));
    EXPECT_EQ(text(again, "txtPassWord"), QStringLiteral("pw"));
    EXPECT_TRUE(checked(again, "chkDiscovery"));
    EXPECT_TRUE(st.messages.shown.empty());
}

TEST(MqttEdit, AWrongBrokerIsSaidAndNothingIsSaved)
{
    Station st;
    MqttEdit w(st.dir.path(), st.messages);
    setText(w, "txtBroker", QStringLiteral("tcp://host"));
    setText(w, "txtPassWord", QStringLiteral("hunter2"));
    click(w, "OKCmd");
    EXPECT_FALSE(w.saved());
    EXPECT_FALSE(QFile::exists(st.path("MqttInf.ini")));
    ASSERT_EQ(st.messages.shown.size(), 1u);
    EXPECT_FALSE(st.messages.shown[0].text.contains(QStringLiteral("hunter2")));
}

TEST(MqttEdit, BothCommunicationWindowsOpenItWithTheirOtherButtonsUnchanged)
{
    Station st;
    int opened = 0;
    ComEdit a(st.comm);
    ComEdit2 b(st.comm);
    a.showMqttSettings = [&](QWidget*) { ++opened; };
    b.showMqttSettings = [&](QWidget*) { ++opened; };
    for (QDialog* w : {static_cast<QDialog*>(&a), static_cast<QDialog*>(&b)}) {
        QPushButton* mqtt = w->findChild<QPushButton*>(QStringLiteral("MqttCmd"));
        ASSERT_TRUE(mqtt);
        EXPECT_EQ(mqtt->text(), QStringLiteral("MQTT設定"));
        EXPECT_TRUE(w->findChild<QPushButton*>(QStringLiteral("InetCmd")));
        EXPECT_TRUE(w->findChild<QPushButton*>(QStringLiteral("EndCmd")));
        mqtt->click();
    }
    EXPECT_EQ(opened, 2);
}

// "接続テスト" against a server that takes the connection and never answers: the click is back at
// once, and within the limit the window says why and gives the button back.
TEST(MqttEdit, AConnectionTestEndsWithinItsLimitAndSaysWhy)
{
    Station st;
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    MqttEdit w(st.dir.path(), st.messages);
    w.setTestLimitMs(400);
    setText(w, "txtBroker", QStringLiteral("mqtt://127.0.0.1:%1").arg(silent.serverPort()));
    click(w, "TestCmd");
    EXPECT_TRUE(w.testing());
    EXPECT_FALSE(control<QPushButton>(w, "TestCmd")->isEnabled());
    QDeadlineTimer deadline(3000);
    while (w.testing() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(control<QPushButton>(w, "TestCmd")->isEnabled());
    EXPECT_EQ(control<QLabel>(w, "TestResult")->text(), QStringLiteral("接続できません：応答なし"));
}
