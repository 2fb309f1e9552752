// The relay files' lines: built by the upload station, read by the download station.

#include "shared/RelayText.h"
#include "Station.h"
#include "SysInfWriter.h"

#include <gtest/gtest.h>

namespace {

const QString Pins = QStringLiteral("Ain,non,Ain,non,Din,Din,Din,Din,Dout,Dout,non,non");
const QString Param = QStringLiteral("ABC.txt,") + Pins;
const QString Data = QStringLiteral("26/12/08,10:20:30,-7,0,32767,-32768,25,1,0,0,1,0,1,0,1");

// A station whose table holds the given units, each unit i with the relay file name names[i].
void load(Station& st, const QList<UnitRow>& rows, const QStringList& names)
{
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(rows));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    for (int i = 0; i < names.size(); ++i)
        EditInet(st.comm, [&](InternetSettings& s) { s.FileName[i] = names[i]; });
}

UnitRow row(const QString& name, const QString& pins)
{
    UnitRow r;
    r.name = name;
    r.pins = pins;
    return r;
}

} // namespace

TEST(RelayParamLine, SpacesAroundACellDoNotBreakTheRelay)
{
    Station up;
    load(up, {row("遠隔", Pins)}, {"ABC"});
    Station down; // the same unit, typed by hand with spaces around some cells
    load(down, {row("遠隔", QStringLiteral("Ain , non,Ain,non,Din,Din ,Din,Din, Dout,Dout,non,non "))}, {"ABC"});

    EXPECT_EQ(Relay::ParamLine(up.comm, 0), Param);
    EXPECT_EQ(Relay::ParamLine(down.comm, 0), Param);

    Relay::UploadValues values{-7, 0, 32767, -32768, 25, 1, 0, 0, 1, 0, 1, 0, 1};
    const QString file = Relay::DataFileText(Relay::ParamLine(up.comm, 0), Relay::DataLine(up.clock.now(), values));
    Relay::RelayData got;
    ASSERT_EQ(Relay::ParseText(file, Relay::DataFileName(down.comm, 0), Relay::ParamLine(down.comm, 0), got),
              Relay::Check::Ok);
    EXPECT_EQ(got.values, values);
    EXPECT_EQ(got.stamp, up.clock.now());
}

TEST(RelayParamLine, EachUnitGetsItsOwnPinTypes)
{
    // "ab" begins "abc", which comes first in the table: a search by name prefix would take abc's line.
    Station st;
    const QString other = QStringLiteral("non,non,non,non,Dout,Dout,Dout,Dout,Dout,Dout,Dout,Dout");
    load(st, {row("abc", other), row("ab", Pins), row("a", Pins)}, {"U1", "U2", "", "U4"});
    EXPECT_EQ(Relay::ParamLine(st.comm, 0), "U1.txt," + other);
    EXPECT_EQ(Relay::ParamLine(st.comm, 1), "U2.txt," + Pins);
    EXPECT_EQ(Relay::ParamLine(st.comm, 2), QString()); // no relay file name
    EXPECT_EQ(Relay::ParamLine(st.comm, 3), QString()); // not in the table, though it has a name
    EXPECT_EQ(Relay::ParamLine(st.comm, -1), QString());
    EXPECT_EQ(Relay::DataFileName(st.comm, 1), "U2.txt");
    EXPECT_EQ(Relay::RequestFileName(st.comm, 1), "U21.txt");
    EXPECT_EQ(Relay::RequestFileName(st.comm, 2), QString());
}

TEST(RelayParamLine, NothingWithoutAValidTable)
{
    Station st;
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceCount = 1; });
    EditInet(st.comm, [&](InternetSettings& s) { s.FileName[0] = "ABC"; });
    EXPECT_FALSE(st.comm.sys().LoadSysInf()); // no sysinf001.csv
    EXPECT_EQ(Relay::ParamLine(st.comm, 0), QString());
}

TEST(RelayDataLine, ExactBytes)
{
    struct Case {
        QDateTime when;
        Relay::UploadValues values;
        QString line;
    };
    const std::vector<Case> cases = {
        {QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30)), {-7, 0, 32767, -32768, 25, 1, 0, 0, 1, 0, 1, 0, 1}, Data},
        {QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)),
         {0, 0, 0, 0, -15, 0, 0, 0, 0, 0, 0, 0, 0},
         "01/02/03,04:05:06,0,0,0,0,-15,0,0,0,0,0,0,0,0"},
        {QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59)),
         {1023, 512, 1, 2, 100, 255, 2, 3, 4, 5, 6, 7, -1},
         "99/12/31,23:59:59,1023,512,1,2,100,255,2,3,4,5,6,7,-1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Relay::DataLine(c.when, c.values), c.line);
    EXPECT_EQ(Relay::DataFileText(Param, Data), Param + "\r\n" + Data + "\r\n");
}

TEST(RelayParseText, ReadsTheUploadSidesFile)
{
    Relay::RelayData got;
    ASSERT_EQ(Relay::ParseText(Param + "\r\n" + Data + "\r\n", "ABC.txt", Param, got), Relay::Check::Ok);
    EXPECT_EQ(got.fields[0], "26/12/08");
    EXPECT_EQ(got.fields[1], "10:20:30");
    EXPECT_EQ(got.fields[2], "-7"); // as written, for the analogue text fields
    EXPECT_EQ(got.fields[14], "1");
    const Relay::UploadValues expected{-7, 0, 32767, -32768, 25, 1, 0, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(got.values, expected);
    EXPECT_EQ(got.stamp, QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30)));
}

TEST(RelayParseText, TheLastFieldRunsToTheEndOfTheText)
{
    for (const QString& end : {QString("\r\n"), QString(), QString("\n")}) {
        Relay::RelayData got;
        EXPECT_EQ(Relay::ParseText(Param + "\r\n" + Data + end, "ABC.txt", Param, got), Relay::Check::Ok) << end.size();
        EXPECT_EQ(got.values[12], 1);
    }
}

TEST(RelayParseText, RejectsWhatIsNotExactlyADataFile)
{
    const QString head = Param + "\r\n";
    QString binary = head;
    for (int b = 0; b < 256; ++b)
        binary += QChar(b);
    const QString withNul = head + Data + QChar(0) + "\r\n";
    struct Case {
        const char* what;
        QString text;
        Relay::Check expected;
    };
    const std::vector<Case> cases = {
        {"empty", "", Relay::Check::NotDataFile},
        {"another unit's file", "XYZ.txt," + Pins + "\r\n" + Data + "\r\n", Relay::Check::NotDataFile},
        {"binary from the start", QString(binary).remove(0, head.size()), Relay::Check::NotDataFile},
        {"one pin type differs", QString(head).replace("Dout,Dout", "Dout,Din") + Data, Relay::Check::TypesDiffer},
        {"more after the parameter line", Param + ",non\r\n" + Data, Relay::Check::TypesDiffer},
        {"no data line", Param, Relay::Check::BadData},
        {"an empty data line", head, Relay::Check::BadData},
        {"a missing comma", head + QString(Data).replace(",25,", ",25"), Relay::Check::BadData},
        {"an extra comma", head + QString(Data).replace(",25,", ",25,,"), Relay::Check::BadData},
        {"a comma at the end", head + Data + ",\r\n", Relay::Check::BadData},
        {"above int16", head + QString(Data).replace("32767", "32768"), Relay::Check::BadData},
        {"below int16", head + QString(Data).replace("-32768", "-32769"), Relay::Check::BadData},
        {"not a number", head + QString(Data).replace(",25,", ",2x5,"), Relay::Check::BadData},
        {"an empty number", head + QString(Data).replace(",25,", ",,"), Relay::Check::BadData},
        {"an unreadable date", head + QString(Data).replace("26/12/08", "26/13/08"), Relay::Check::BadData},
        {"binary after the parameter line", binary, Relay::Check::BadData},
        {"a NUL in the last field", withNul, Relay::Check::BadData},
        {"a second parameter line", head + "XYZ.txt," + Pins + "\r\n" + Data + "\r\n", Relay::Check::BadData},
        {"a third line", head + Data + "\r\n1\r\n", Relay::Check::BadData},
        // Padding that a lenient number reader would skip: still too long to be one of ours.
        {"oversized", head + Data + QString(Relay::MaxTextLength, u' '), Relay::Check::BadData},
    };
    for (const auto& c : cases) {
        Relay::RelayData got;
        got.values.fill(99);
        EXPECT_EQ(Relay::ParseText(c.text, "ABC.txt", Param, got), c.expected) << c.what;
        EXPECT_EQ(got.values[0], 99) << c.what; // nothing half-stored
    }
    Relay::RelayData got;
    EXPECT_EQ(Relay::ParseText(head + Data, QString(), Param, got), Relay::Check::NotDataFile); // a unit without a name
}

TEST(RelayParseText, ATornFileIsNeverData)
{
    // Every cut of the file short of its last digit, as a reader racing a writer might see it.
    const QString full = Param + "\r\n" + Data;
    for (qsizetype n = 0; n < full.size(); ++n) {
        Relay::RelayData got;
        EXPECT_NE(Relay::ParseText(full.left(n), "ABC.txt", Param, got), Relay::Check::Ok) << n;
    }
}

TEST(RelayRequest, BuildsTheLineBothSidesAgreeOn)
{
    EXPECT_EQ(Relay::RequestLine("tok", "ABC1.txt", 6, 3, true), "tok,ABC1.txt,PortB,3,High");
    EXPECT_EQ(Relay::RequestLine("tok", "ABC1.txt", 5, 0, false), "tok,ABC1.txt,PortA,0,Low");
    EXPECT_EQ(Relay::RequestLine("", "ABC1.txt", 6, 7, false), ",ABC1.txt,PortB,7,Low");
}

TEST(RelayRequest, ParsesWhatTheTokenAndNameAllow)
{
    using R = Relay::Request;
    struct Case {
        const char* what;
        QString text;
        QString token;
        R kind;
        int port = 0, pin = 0;
        bool high = false, hasLevel = false;
    };
    const std::vector<Case> cases = {
        {"PortA pin 2", "tok,ABC1.txt,PortA,2,High", "tok", R::Carry, 5, 2, true, true},
        {"PortB low, line end", "tok,ABC1.txt,PortB,7,Low\r\n", "tok", R::Carry, 6, 7, false, true},
        {"level is the rest of the line", "tok,ABC1.txt,PortB,1,High,x", "tok", R::Carry, 6, 1, true, true},
        {"unknown level", "tok,ABC1.txt,PortB,1,Up", "tok", R::Carry, 6, 1, false, false},
        {"port word in other case", "tok,ABC1.txt,portb,4,Low", "tok", R::Bad},
        {"port word with more after it", "tok,ABC1.txt,PortBx,4,Low", "tok", R::Bad},
        {"unknown port word", "tok,ABC1.txt,Port,2,Highest-garbage", "tok", R::Bad},
        {"another password", "pass,ABC1.txt,PortB,3,High", "tok", R::None},
        {"token cut short", "to", "tok", R::None},
        {"idle file, with a token", "", "tok", R::None},
        {"another file", "tok,XYZ1.txt,PortB,3,High", "tok", R::OtherFile},
        {"the data file's name", "tok,ABC.txt,PortB,3,High", "tok", R::OtherFile},
        {"a longer token", "tokX,ABC1.txt,PortB,3,High", "tok", R::OtherFile},
        {"pin not a number", "tok,ABC1.txt,PortB,x,High", "tok", R::Bad},
        {"pin 8", "tok,ABC1.txt,PortB,8,High", "tok", R::Bad},
        {"pin -1", "tok,ABC1.txt,PortB,-1,High", "tok", R::Bad},
        {"no pin", "tok,ABC1.txt,PortB", "tok", R::Bad},
        // An empty password gives an empty token: the idle line fits it but is never taken for one.
        {"idle line, empty token", "", "", R::None},
        {"idle CR LF, empty token", "\r\n", "", R::None},
        {"empty token request", ",ABC1.txt,PortB,0,High", "", R::Carry, 6, 0, true, true},
    };
    for (const auto& c : cases) {
        Relay::OutputRequest got;
        got.pin = 99;
        EXPECT_EQ(Relay::ParseRequest(c.text, c.token, "ABC1.txt", got), c.kind) << c.what;
        if (c.kind == R::Carry) {
            EXPECT_EQ(got.port, c.port) << c.what;
            EXPECT_EQ(got.pin, c.pin) << c.what;
            EXPECT_EQ(got.high, c.high) << c.what;
            EXPECT_EQ(got.hasLevel, c.hasLevel) << c.what;
        } else {
            EXPECT_EQ(got.pin, 99) << c.what; // left as it was
        }
    }
    Relay::OutputRequest got;
    EXPECT_EQ(Relay::ParseRequest("tok,,PortB,0,High", "tok", "", got), R::OtherFile); // a unit without a name
    const QString line = Relay::RequestLine("t,ok", "ABC1.txt", 6, 5, false);
    ASSERT_EQ(Relay::ParseRequest(line, "t,ok", "ABC1.txt", got), R::Carry);
    EXPECT_EQ(got.pin, 5);
    EXPECT_FALSE(got.high);
}

TEST(RelayRequest, TokenMatchIsExact)
{
    struct Case {
        QString text, token;
        bool starts;
    };
    const std::vector<Case> cases = {
        {"abc", "abc", true},
        {"abc,x", "abc", true},
        {"x", "", true},
        {"", "", true},
        {"ab", "abc", false},
        {"abd", "abc", false},
        {"xbc", "abc", false},
        {"Abc", "abc", false},
        {QStringLiteral("ａbc"), "abc", false},        // full-width a
        {QString(QChar(0x0161)) + "bc", "abc", false}, // same low byte as "a"
    };
    for (const auto& c : cases)
        EXPECT_EQ(Relay::StartsWithToken(c.text, c.token), c.starts)
            << c.text.toStdString() << " / " << c.token.toStdString();
}
