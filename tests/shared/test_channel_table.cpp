// ChannelInf.csv: what loads, what is refused with its line named, and the conversions people read.

#include "Station.h"

#include "shared/ChannelTable.h"
#include "platform/TextFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QString Head =
    QStringLiteral("ユニット,チャンネル,タグ名,単位,生値下限,生値上限,工学値下限,工学値上限,小数桁,ON表示,OFF表示");

} // namespace

TEST(ChannelTable, LoadsGoodLinesAndRefusesAFaultyFileWholeNamingTheLine)
{
    Station st;
    EXPECT_EQ(st.comm.channels().load().fault, Fault::NotLoaded);
    const QString good = QStringLiteral("000,RA0,水位,m,0,1000,0,10,2,,");
    const QString pin = QStringLiteral("000,RB4,ポンプ1,,,,,,,運転,停止");
    struct Case {
        QString line;
        QString why; // empty: loads
    };
    const Case cases[] = {
        {QStringLiteral("099,RA3, 圧力 ,MPa,4,20,0,1.6,3,,"), {}},
        {QStringLiteral("000,RB7,扉,,,,,,,,"), {}}, // ON and OFF as they are
        {QStringLiteral("100,RA0,x,m,0,1,0,1,0,,"), QStringLiteral("ユニットは 000～099 です")},
        {QStringLiteral("001,RC0,x,m,0,1,0,1,0,,"), QStringLiteral("チャンネルは")},
        {QStringLiteral("001,RA0,x,m,0,abc,0,1,0,,"), QStringLiteral("生値上限が数値ではありません")},
        {QStringLiteral("001,RA0,x,m,5,5,0,1,0,,"), QStringLiteral("同じです")},
        {QStringLiteral("001,RA0,x,m,0,1,0,1,7,,"), QStringLiteral("小数桁は 0～6")},
        {QStringLiteral("001,RA0,,m,0,1,0,1,0,,"), QStringLiteral("タグ名がありません")},
        {QStringLiteral("001,RA0,x,m,0,1,0,1,0,入,切"), QStringLiteral("ON表示・OFF表示はありません")},
        {QStringLiteral("001,RB0,x,V,,,,,,入,切"), QStringLiteral("単位・生値")},
        {QStringLiteral("001,RA0,x,m,0,1,0,1,0"), QStringLiteral("項目が 9 個")},
        {QStringLiteral("000,RA0,again,m,0,1,0,1,0,,"), QStringLiteral("前の行にもあります")},
    };
    for (const Case& c : cases) {
        TextFile::writeWhole(st.path("ChannelInf.csv"), Head + "\r\n" + good + "\r\n\r\n" + pin + "\r\n" + c.line);
        const Outcome o = st.comm.channels().load();
        if (c.why.isEmpty()) {
            EXPECT_TRUE(o) << c.line.toStdString() << " " << o.detail.toStdString();
            EXPECT_EQ(st.comm.channels().lines().size(), 3u);
            continue;
        }
        EXPECT_EQ(o.fault, Fault::SettingsFile) << c.line.toStdString();
        EXPECT_TRUE(o.detail.contains(QStringLiteral("ChannelInf.csv")) &&
                    o.detail.contains(QStringLiteral("5 行目")) && o.detail.contains(c.why))
            << c.line.toStdString() << ": " << o.detail.toStdString();
        EXPECT_TRUE(st.comm.channels().lines().empty()) << "a faulty file is ignored whole";
        EXPECT_TRUE(st.comm.channels().unreadable());
    }
    TextFile::writeWhole(st.path("ChannelInf.csv"), QStringLiteral("unit,channel\r\n") + good);
    EXPECT_TRUE(st.comm.channels().load().detail.contains(QStringLiteral("1 行目")));

    // Saved and read back as written, owner-only, through a temporary file.
    TextFile::writeWhole(st.path("ChannelInf.csv"), Head + "\r\n" + pin + "\r\n" + good + "\r\n");
    ASSERT_TRUE(st.comm.channels().load());
    ::unlink(QFile::encodeName(st.path("ChannelInf.csv")).constData());
    ASSERT_TRUE(st.comm.channels().save(st.messages));
    EXPECT_EQ(st.readBytes("ChannelInf.csv"), TextFile::encode(Head + "\r\n" + good + "\r\n" + pin + "\r\n"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(st.path("ChannelInf.csv")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(ChannelTable, ConversionsAreExactAtTheEndsRoundedToTheirDecimalsAndGoOnBeyond)
{
    struct Case {
        double rawLow, rawHigh, engLow, engHigh;
        int decimals;
        double raw;
        const char* text;
    };
    const Case cases[] = {
        {0, 1023, 0, 10, 2, 1023, "10.00"},       // the top end is the top value, not 9.99…
        {0, 1000, 0, 10, 2, 500, "5.00"},         //
        {4, 20, 0, 1.6, 3, 20, "1.600"},          // a 4–20 mA transmitter
        {4, 20, 0, 1.6, 3, 0, "-0.400"},          // below the range: the same line goes on
        {0, 1000, 0.1, 0.3, 6, 1000, "0.300000"}, // 0.1 + 0.2 is not 0.3 in binary
        {-1, 1, -1, 1, 1, -0.04, "0.0"},          //
        {1000, 0, 0, 100, 0, 250, "75"},          // a falling scale
        {0, 1023, -50, 150, 1, 1200, "184.6"},    //
    };
    for (const Case& c : cases) {
        ChannelLine l;
        l.rawLow = c.rawLow;
        l.rawHigh = c.rawHigh;
        l.engLow = c.engLow;
        l.engHigh = c.engHigh;
        l.decimals = c.decimals;
        EXPECT_EQ(l.text(c.raw), QString::fromLatin1(c.text)) << c.raw;
        EXPECT_EQ(l.rounded(c.raw), QString::fromLatin1(c.text).toDouble());
    }
}

TEST(ChannelTable, AlarmConditionsInTheTagsWordsAndDeletedUnitsTakeTheirLinesAlong)
{
    ChannelTable t(QStringLiteral("/nonexistent"));
    ChannelLine level;
    level.name = QStringLiteral("水位");
    level.unitText = QStringLiteral("m");
    level.rawHigh = 1000;
    level.engHigh = 10;
    level.channel = 2;
    ChannelLine pump;
    pump.name = QStringLiteral("ポンプ1");
    pump.channel = 8;
    pump.onText = QStringLiteral("運転");
    pump.offText = QStringLiteral("停止");
    t.setUnit(1, {level, pump});
    t.setUnit(3, {pump});
    EXPECT_EQ(t.conditionText(1, QStringLiteral("Din: 4:High")), QStringLiteral("ポンプ1(RB4): 運転"));
    EXPECT_EQ(t.conditionText(1, QStringLiteral("Din:4:Low")), QStringLiteral("ポンプ1(RB4): 停止"));
    EXPECT_EQ(t.conditionText(1, QStringLiteral("Ain: 2:High")), QStringLiteral("水位(RA2): High"));
    EXPECT_EQ(t.conditionText(1, QStringLiteral("Din: 2:High")), QStringLiteral("Din: 2:High")) << "RB2 has no line";
    EXPECT_EQ(t.conditionText(1, QStringLiteral("non")), QStringLiteral("non"));

    EXPECT_FALSE(t.deleteUnit(5));
    EXPECT_TRUE(t.deleteUnit(1));
    ASSERT_EQ(t.lines().size(), 1u);
    EXPECT_EQ(t.lines()[0].unit, 2) << "unit 3 moved up with its row";
    EXPECT_EQ(t.find(2, 8)->name, QStringLiteral("ポンプ1"));
    EXPECT_EQ(t.find(1, 2), nullptr);
}
