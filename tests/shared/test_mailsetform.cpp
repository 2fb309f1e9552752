// The mail settings window driven by its control names.

#include "shared/MailSetform.h"
#include "Station.h"
#include "platform/TextFile.h"
#include "WindowDriver.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

struct MailRig {
    Station st;
    std::unique_ptr<MailSetform> w;
    MailRig()
    {
        auto s = st.comm.inet().InternetSettings();
        s.SMTPServerName = QStringLiteral("smtp.local");
        s.SendMailName = QStringLiteral("station@local");
        s.MailHeader = QStringLiteral("警報");
        s.MailBody = QStringLiteral("異常です");
        st.comm.inet().Commit(s);
        w = std::make_unique<MailSetform>(st.comm);
        w->show();
    }
    bool written() const { return QFile::exists(st.path("InetInf.ini")); }
};

} // namespace

TEST(MailSetform, SaveStoresTrimmedTextOnOkAndClosesEitherWay)
{
    MailRig rig;
    MailSetform& w = *rig.w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("メール設定"));
    EXPECT_EQ(text(w, "Mailheader"), QStringLiteral("警報"));
    EXPECT_EQ(control<QLineEdit>(w, "Honbun")->accessibleName(), QStringLiteral("送信メッセージ"));
    snap(w, QStringLiteral("MailSetform"));

    type(w, "Mailheader", "  水位警報 ");
    rig.st.messages.answers = {MessageBoxService::Answer::Cancel};
    click(w, "SetCmd");
    EXPECT_EQ(rig.st.messageTexts(), QStringList{"変更してもよろしいですか？"});
    EXPECT_EQ(rig.st.messages.shown[0].title, QStringLiteral("確認"));
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().MailHeader, QStringLiteral("警報"));
    EXPECT_FALSE(rig.written());

    MailSetform again(rig.st.comm);
    again.show();
    type(again, "Mailheader", "  水位警報 ");
    setText(again, "Honbun", QStringLiteral("一行目\n二行目"));
    type(again, "SMTPName", "");
    click(again, "SetCmd");
    EXPECT_FALSE(again.isVisible());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().MailHeader, QStringLiteral("水位警報"));
    EXPECT_TRUE(rig.st.comm.inet().InternetSettings().SMTPServerName.isEmpty());
    const QString file = *TextFile::readAll(rig.st.path("InetInf.ini"));
    EXPECT_TRUE(file.contains(QStringLiteral("\r\nMailHeader=水位警報\r\n")));
    EXPECT_TRUE(file.contains(QStringLiteral("\r\nMailBody=一行目 二行目\r\n")));
}

TEST(MailSetform, EndDiscardsTheEdits)
{
    MailRig rig;
    type(*rig.w, "SendName", "other@local");
    click(*rig.w, "EndCmd");
    EXPECT_FALSE(rig.w->isVisible());
    EXPECT_TRUE(rig.st.messages.shown.empty());
    EXPECT_EQ(rig.st.comm.inet().InternetSettings().SendMailName, QStringLiteral("station@local"));
    EXPECT_FALSE(rig.written());
}
