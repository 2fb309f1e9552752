#include "platform/Conversions.h"

#include <gtest/gtest.h>

using namespace Conv;

TEST(Conversions, ValTakesTheLeadingNumericPart)
{
    EXPECT_EQ(Val(QStringLiteral("  7  ")), 7);
    EXPECT_EQ(Val(QStringLiteral("12abc")), 12);
    EXPECT_EQ(Val(QStringLiteral("abc")), 0);
    EXPECT_EQ(Val(QString()), 0);
    EXPECT_EQ(Val(QStringLiteral("-3.5x")), -3.5);
    EXPECT_EQ(Val(QStringLiteral("1E3")), 1000); // lower-cased before reading
    EXPECT_EQ(Val(QStringLiteral("&H1F")), 31);
    EXPECT_EQ(Val(QStringLiteral("2e")), 2); // an exponent without digits is not part of the number
    EXPECT_EQ(Val(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(Val(QStringLiteral("-")), 0);
}

TEST(Conversions, CInt16RoundsHalvesToEvenAndRejectsOverflow)
{
    EXPECT_EQ(CInt16(2.5), 2);
    EXPECT_EQ(CInt16(3.5), 4);
    EXPECT_EQ(CInt16(-2.5), -2);
    EXPECT_EQ(CInt16(2.4999), 2);
    EXPECT_EQ(CInt16(32767), 32767);
    EXPECT_EQ(CInt16(-32768), -32768);
    EXPECT_EQ(CInt16(-32768.5), -32768); // rounds to even, which is in range
    EXPECT_FALSE(CInt16(32767.5));       // rounds to 32768
    EXPECT_FALSE(CInt16(40000));
    EXPECT_FALSE(CInt16(1e300));
}

TEST(Conversions, StrPutsASpaceBeforeNonNegativeNumbers)
{
    EXPECT_EQ(Str(0), QStringLiteral(" 0"));
    EXPECT_EQ(Str(1000), QStringLiteral(" 1000"));
    EXPECT_EQ(Str(-12), QStringLiteral("-12"));
    EXPECT_EQ(Str(1.5), QStringLiteral(" 1.5"));
    EXPECT_EQ(PlainNumber(9600), QStringLiteral("9600"));
    EXPECT_EQ(PlainNumber(2.25), QStringLiteral("2.25"));
}

TEST(Conversions, StrictNumberNeedsTheWholeText)
{
    EXPECT_EQ(StrictNumber(QStringLiteral(" 3 ")), 3);
    EXPECT_EQ(StrictNumber(QStringLiteral("-2.5")), -2.5);
    EXPECT_FALSE(StrictNumber(QString()));
    EXPECT_FALSE(StrictNumber(QStringLiteral("3a")));
    EXPECT_FALSE(StrictNumber(QStringLiteral("inf")));
    EXPECT_FALSE(StrictNumber(QStringLiteral("nan")));
}
