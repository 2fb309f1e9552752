#include "platform/DateText.h"

#include <gtest/gtest.h>

TEST(DateText, FormsAndPrefixes)
{
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(DateText::general(t), QStringLiteral("26/03/04 05:06:07"));
    EXPECT_EQ(DateText::general(t).size(), 17);
    EXPECT_EQ(DateText::date(t), QStringLiteral("26/03/04"));
    EXPECT_EQ(DateText::time(t), QStringLiteral("05:06:07"));
    EXPECT_EQ(DateText::dataLog(t), QStringLiteral("2026/03/04 05:06:07"));
    EXPECT_EQ(DateText::general(t).left(DateText::duePrefixLength("h")), QStringLiteral("26/03/04 05"));
    EXPECT_EQ(DateText::duePrefixLength("n"), 14);
    EXPECT_EQ(DateText::duePrefixLength("s"), 17);
}

TEST(DateText, CalendarAdditionCrossesDaysAndYears)
{
    const QDateTime t(QDate(2026, 12, 31), QTime(23, 59, 30));
    EXPECT_EQ(DateText::general(DateText::addCycle(t, 45, "s")), QStringLiteral("27/01/01 00:00:15"));
    EXPECT_EQ(DateText::general(DateText::addCycle(t, 2, "h")), QStringLiteral("27/01/01 01:59:30"));
    EXPECT_EQ(DateText::addCycle(t, 5, "x"), t);
}

TEST(DateText, ParsesWhatItWrites)
{
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(DateText::parseGeneral(DateText::general(t)), t);
    EXPECT_EQ(DateText::parseDateAndTime("2026/03/04", "05:06:07"), t);
    EXPECT_FALSE(DateText::parseDateAndTime("26/13/04", "05:06:07"));
    EXPECT_FALSE(DateText::parseDateAndTime("26/03/04", "25:00:00"));
    EXPECT_FALSE(DateText::parseGeneral("garbage"));
}
