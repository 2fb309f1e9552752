#include "mime_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace talveron::mime;
using namespace std::string_literals;

namespace {

std::string Conv(Status (*f)(std::string_view, std::string&), std::string_view in) {
    std::string out = "untouched";
    EXPECT_EQ(f(in, out), Status::Ok) << "input size " << in.size();
    return out;
}

Status Fails(Status (*f)(std::string_view, std::string&), std::string_view in) {
    std::string out = "untouched";
    const Status s = f(in, out);
    EXPECT_EQ(out, "untouched");  // a failing call changes nothing
    return s;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

const std::string kEsc = "\x1b";
const std::string kIn = kEsc + "$B";
const std::string kOut = kEsc + "(B";

// n double-byte characters of JIS X 0208 (distinct, so misplaced cuts show).
std::string Kanji(int n, int first = 0) {
    std::string s;
    for (int i = first; i < first + n; ++i) {
        s += static_cast<char>(0x30 + (i / 94) % 40);
        s += static_cast<char>(0x21 + i % 94);
    }
    return s;
}

std::string B64(std::string_view s) {
    std::string out;
    Base64Encode(s, out);
    return out;
}

const char* detail_alphabet() { return "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"; }

}  // namespace

TEST(Base64, EncodesGroupsWithPaddingOnOneLine) {
    EXPECT_EQ(Conv(Base64Encode, "abc"), "YWJj");
    EXPECT_EQ(Conv(Base64Encode, "ab"), "YWI=");
    EXPECT_EQ(Conv(Base64Encode, "a"), "YQ==");
    EXPECT_EQ(Conv(Base64Encode, ""), "");
    EXPECT_EQ(Conv(Base64Encode, "\0\0\0\0"s), "AAAAAA==");
    for (std::size_t n : {57u, 1000u}) {
        const std::string out = Conv(Base64Encode, std::string(n, 'x'));
        EXPECT_EQ(out.size(), Base64Length(n));
        EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
    }
}

TEST(Base64, DecodeSkipsForeignBytesAndContinuesAfterPadding) {
    EXPECT_EQ(Conv(Base64Decode, "YW\r\nJj"), "abc");
    EXPECT_EQ(Conv(Base64Decode, "YWJ"), "");  // a final short group is ignored
    EXPECT_EQ(Conv(Base64Decode, "YQ==YWI="), "aab");
    EXPECT_EQ(Conv(Base64Decode, "Y Q\t=\x80=!"), "a");
    EXPECT_EQ(Conv(Base64Decode, "YWJjZA"), "abc");
    EXPECT_EQ(Conv(Base64Decode, "YQ=x"), "a");    // pad third: one byte whatever the fourth is
    EXPECT_EQ(Conv(Base64Decode, "===="), "\0"s);  // malformed, but defined
    EXPECT_EQ(Fails(Base64Decode, "YW\0Jj"s), Status::InvalidValue);
    EXPECT_EQ(Fails(Base64Decode, "YWJj\0"s), Status::InvalidValue);
}

// Both kernels must give the same bytes; the plain one is also checked on its own against
// the round trip, so a fault shared by both cannot hide.
class Base64Kernels : public ::testing::TestWithParam<Kernel> {
  protected:
    void SetUp() override { SetBase64Kernel(GetParam()); }
    void TearDown() override { SetBase64Kernel(Kernel::Auto); }
};

TEST_P(Base64Kernels, RoundTripsEveryLengthAndOffset) {
    if (GetParam() == Kernel::Avx2 && !CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    const std::string data = RandomBytes(700, 1);
    for (std::size_t off = 0; off < 4; ++off) {
        for (std::size_t n = 0; n + off <= 300; ++n) {
            const std::string_view in(data.data() + off, n);
            const std::string enc = Conv(Base64Encode, in);
            SetBase64Kernel(Kernel::Plain);
            ASSERT_EQ(enc, Conv(Base64Encode, in)) << n;
            SetBase64Kernel(GetParam());
            ASSERT_EQ(Conv(Base64Decode, enc), in) << n;
        }
    }
}

TEST_P(Base64Kernels, DecodeAgreesWithPlainForEveryByteAtEveryPosition) {
    if (GetParam() == Kernel::Avx2 && !CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    const std::string clean = B64(RandomBytes(150, 2));  // 200 characters
    for (std::size_t pos = 0; pos < 72; ++pos) {
        for (int b = 1; b < 256; ++b) {
            std::string text = clean;
            text[pos] = static_cast<char>(b);
            std::string expected;
            SetBase64Kernel(Kernel::Plain);
            Base64Decode(text, expected);
            SetBase64Kernel(GetParam());
            ASSERT_EQ(Conv(Base64Decode, text), expected) << "byte " << b << " at " << pos;
        }
    }
}

TEST_P(Base64Kernels, DecodeAgreesWithPlainOnNoisyMegabytes) {
    if (GetParam() == Kernel::Avx2 && !CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    std::mt19937 rng(3);
    const std::string clean = B64(RandomBytes(3 << 20, 4));
    for (int percent : {0, 1, 10, 50}) {
        std::string noisy;
        for (std::size_t i = 0; i < clean.size(); ++i) {
            if (i % 76 == 75) noisy += "\r\n";
            if (static_cast<int>(rng() % 100) < percent) noisy += static_cast<char>(rng() % 2 ? '=' : 1 + rng() % 255);
            noisy += clean[i];
        }
        std::string expected;
        SetBase64Kernel(Kernel::Plain);
        Base64Decode(noisy, expected);
        SetBase64Kernel(GetParam());
        ASSERT_EQ(Conv(Base64Decode, noisy), expected) << percent << "%";
    }
}

// Text as mail writes it, 76 characters a line: the AVX2 kernel takes such lines whole.
std::string WrapAt76(const std::string& text, const std::string& lineEnd) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 76) out.append(text, i, 76).append(lineEnd);
    return out;
}

TEST_P(Base64Kernels, WrappedLinesAgreeWithPlainWhateverByteBreaksThem) {
    if (GetParam() == Kernel::Avx2 && !CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    for (const std::string lineEnd : {"\r\n", "\n"}) {
        const std::string wrapped = WrapAt76(B64(RandomBytes(57 * 6 + 4, 5)), lineEnd);
        for (std::size_t pos = 0; pos < 3 * (76 + lineEnd.size()); ++pos) {
            for (int b = 0; b < 256; ++b) {
                std::string text = wrapped;
                text[pos] = static_cast<char>(b);
                if (b == 0) {
                    ASSERT_EQ(Fails(Base64Decode, text), Status::InvalidValue) << "zero at " << pos;
                    continue;
                }
                std::string expected;
                SetBase64Kernel(Kernel::Plain);
                Base64Decode(text, expected);
                SetBase64Kernel(GetParam());
                ASSERT_EQ(Conv(Base64Decode, text), expected) << "byte " << b << " at " << pos;
            }
        }
        // Every length, so the last lines fall on each side of where the fast path stops.
        const std::string data = RandomBytes(57 * 8, 6);
        for (std::size_t n = 0; n <= data.size(); ++n)
            ASSERT_EQ(Conv(Base64Decode, WrapAt76(B64(data.substr(0, n)), lineEnd)), data.substr(0, n)) << n;
    }
}

TEST_P(Base64Kernels, ZeroByteAnywhereFailsTheDecode) {
    if (GetParam() == Kernel::Avx2 && !CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    const std::string clean = B64(RandomBytes(3000, 7));
    for (std::size_t pos = 0; pos < clean.size(); pos += 7) {
        std::string text = clean;
        text[pos] = '\0';
        ASSERT_EQ(Fails(Base64Decode, text), Status::InvalidValue) << pos;
        text.insert(pos, "\r\n=");  // also among foreign bytes and after a pad
        ASSERT_EQ(Fails(Base64Decode, text), Status::InvalidValue) << pos;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernel, Base64Kernels, ::testing::Values(Kernel::Plain, Kernel::Avx2));

// The rules one byte at a time, to check the table-driven encoder and the block decoder by.
std::string QpEncodeByTheRules(const std::string& in) {
    std::size_t tail = in.size();
    while (tail > 0 && (in[tail - 1] == ' ' || in[tail - 1] == '\t')) --tail;
    std::string out;
    std::size_t counter = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        const bool literal =
            c == '\r' || c == '\n' || (c >= 0x21 && c <= 0x7E && c != '=') || ((c == ' ' || c == '\t') && i < tail);
        if (literal) {
            out += static_cast<char>(c);
            counter += 1;
        } else {
            out += '=';
            out += "0123456789ABCDEF"[c >> 4];
            out += "0123456789ABCDEF"[c & 15];
            counter += 3;
        }
        if (counter >= 75 && i + 1 < in.size()) {
            out += "=\r\n";
            counter = 0;
        }
    }
    return out;
}

// Text drawn from the bytes that matter to both conversions.
std::string QpishText(std::mt19937& rng, std::size_t n) {
    static const std::string pool = "=====0123456789ABCDEFabcdef\r\n \t_xyZ?\x80\xff\x88\x3d\x01";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += pool[rng() % pool.size()];
    return s;
}

TEST(QuotedPrintable, EncodeFollowsTheRulesByteForByte) {
    std::mt19937 rng(11);
    for (std::size_t n = 0; n < 400; ++n) {
        std::string in = QpishText(rng, n);
        for (char& c : in)
            if (c == '\0') c = 1;
        ASSERT_EQ(Conv(QuotedPrintableEncode, in), QpEncodeByTheRules(in)) << n;
    }
    const std::string japanese = RandomBytes(100000, 12);
    std::string noZero = japanese;
    for (char& c : noZero)
        if (c == '\0') c = ' ';
    EXPECT_EQ(Conv(QuotedPrintableEncode, noZero + "  \t"), QpEncodeByTheRules(noZero + "  \t"));
}

TEST_P(Base64Kernels, QuotedPrintableDecodeAgreesWithPlain) {
    // The kernel choice also picks quoted-printable decoding's block kernel.
    if (GetParam() == Kernel::Avx2 && !CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
    std::mt19937 rng(13);
    auto check = [&](const std::string& text) {
        std::string expected;
        SetBase64Kernel(Kernel::Plain);
        QuotedPrintableDecode(text, expected);
        SetBase64Kernel(GetParam());
        ASSERT_EQ(Conv(QuotedPrintableDecode, text), expected) << text.size();
    };
    for (std::size_t n = 0; n < 300; ++n) check(QpishText(rng, n));
    // Encoded text (escapes, soft breaks, plain runs) with one byte changed anywhere.
    std::string middle = RandomBytes(60, 14);
    for (char& c : middle)
        if (c == '\0') c = 1;
    const std::string encoded = Conv(QuotedPrintableEncode, "plain words " + middle + " and more");
    // Escapes and soft breaks at every place of a block.
    for (std::size_t off = 0; off < 40; ++off) check(encoded.substr(off) + encoded);
    for (std::size_t pos = 0; pos < encoded.size(); ++pos)
        for (const char b : {'=', '\r', '\n', 'G', 'f', '0', '\x80'}) {
            std::string text = encoded;
            text[pos] = b;
            check(text);
        }
    const std::string big = RandomBytes(1 << 20, 15);
    std::string noZero = big;
    for (char& c : noZero)
        if (c == '\0') c = 1;
    ASSERT_EQ(Conv(QuotedPrintableDecode, Conv(QuotedPrintableEncode, noZero)), noZero);
}

TEST(QuotedPrintable, EncodesLiteralsAndEscapes) {
    EXPECT_EQ(Conv(QuotedPrintableEncode, "a=b"), "a=3Db");
    EXPECT_EQ(Conv(QuotedPrintableEncode, "a \r\nb"), "a \r\nb");
    EXPECT_EQ(Conv(QuotedPrintableEncode, "ab  "), "ab=20=20");
    EXPECT_EQ(Conv(QuotedPrintableEncode, "a \t\r\n"), "a \t\r\n");  // CR LF are not blanks
    EXPECT_EQ(Conv(QuotedPrintableEncode, "a\t \t"), "a=09=20=09");
    EXPECT_EQ(Conv(QuotedPrintableEncode, "\xe9"), "=E9");
    EXPECT_EQ(Conv(QuotedPrintableEncode, "\x01\x7f~!<>"), "=01=7F~!<>");
    EXPECT_EQ(Fails(QuotedPrintableEncode, "a\0b"s), Status::InvalidValue);
}

TEST(QuotedPrintable, SoftBreaksCountFromTheLastBreakOnly) {
    const std::string letters(80, 'x');
    EXPECT_EQ(Conv(QuotedPrintableEncode, letters), std::string(75, 'x') + "=\r\n" + std::string(5, 'x'));
    EXPECT_EQ(Conv(QuotedPrintableEncode, std::string(75, 'x')), std::string(75, 'x'));  // no break at the end
    // CR LF from the input count and do not reset the counter.
    const std::string lines = std::string(40, 'a') + "\r\n" + std::string(40, 'b');
    EXPECT_EQ(Conv(QuotedPrintableEncode, lines),
              std::string(40, 'a') + "\r\n" + std::string(33, 'b') + "=\r\n" + std::string(7, 'b'));
    // An escape may carry the line to 77 characters before its "=".
    const std::string out = Conv(QuotedPrintableEncode, std::string(74, 'x') + "==");
    EXPECT_EQ(out, std::string(74, 'x') + "=3D=\r\n=3D");
}

TEST(QuotedPrintable, AllEscapedInputFitsItsAllocation) {
    // 3 characters per byte plus soft breaks: more than three times the input.
    const std::string in(1000, '\xff');
    const std::string out = Conv(QuotedPrintableEncode, in);
    EXPECT_GT(out.size(), 3 * in.size());
    EXPECT_EQ(Conv(QuotedPrintableDecode, out), in);
}

TEST(QuotedPrintable, TrailingBlankRuleStaysLinear) {
    // Quadratic look-ahead would take minutes here.
    const std::string spaces(4 << 20, ' ');
    const std::string out = Conv(QuotedPrintableEncode, spaces);
    EXPECT_EQ(out.substr(0, 6), "=20=20");
    EXPECT_EQ(Conv(QuotedPrintableDecode, out), spaces);
    const std::string keep = Conv(QuotedPrintableEncode, spaces + "x");
    EXPECT_EQ(keep.substr(0, 3), "   ");
}

TEST(QuotedPrintable, Decodes) {
    EXPECT_EQ(Conv(QuotedPrintableDecode, "=41=3d"), "A=");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "=4G"), "=4G");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "a=\r\nb"), "ab");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "a=\rb"), "ab");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "a=\nb_"), "a=\nb_");  // "=" LF is not a soft break, "_" stays
    EXPECT_EQ(Conv(QuotedPrintableDecode, "ab=4"), "ab=4");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "ab="), "ab=");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "=41\0=42"s), "A");  // a zero byte ends the text
    EXPECT_EQ(Conv(QuotedPrintableDecode, "=\r=41"), "A");
    EXPECT_EQ(Conv(QuotedPrintableDecode, "=4=41"), "=4=41");  // the third byte of a bad escape is not looked at again
}

TEST(QuotedPrintable, RoundTripsAllBytesButZero) {
    std::string all;
    for (int rep = 0; rep < 3; ++rep)
        for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    all += "  \t ";
    EXPECT_EQ(Conv(QuotedPrintableDecode, Conv(QuotedPrintableEncode, all)), all);
}

TEST(MimeHeader, EncodeLeavesPlainTextAndDropsStrayEscapes) {
    EXPECT_EQ(Conv(MimeHeaderEncode, "Subject: hello\r\n"), "Subject: hello\r\n");
    EXPECT_EQ(Conv(MimeHeaderEncode, "a" + kOut + "b" + kEsc + "(J" + "c"), "abc");
    EXPECT_EQ(Conv(MimeHeaderEncode, "ab" + kEsc + "$"), "ab" + kEsc + "$");  // cut-off sequence
    EXPECT_EQ(Conv(MimeHeaderEncode, "ab" + kEsc), "ab");
    EXPECT_EQ(Fails(MimeHeaderEncode, "a\0b"s), Status::InvalidValue);
}

TEST(MimeHeader, EncodeFoldsALongRunAt75Columns) {
    const std::string in = "Subject: " + kIn + Kanji(20) + kOut;
    const std::string first = "=?ISO-2022-JP?B?" + B64(kIn + Kanji(15) + kOut) + "?=";
    const std::string second = "=?ISO-2022-JP?B?" + B64(kIn + Kanji(5, 15) + kOut) + "?=";
    const std::string out = Conv(MimeHeaderEncode, in);
    EXPECT_EQ(out, "Subject: " + first + "\r\n\t" + second);
    EXPECT_EQ(out.find("\r\n"), 75u);
}

TEST(MimeHeader, EncodeRunsBackToBackAndAfterLineBreaks) {
    const std::string a = kIn + Kanji(2) + kOut, b = kIn + Kanji(3, 50) + kOut;
    EXPECT_EQ(Conv(MimeHeaderEncode, a + b), "=?ISO-2022-JP?B?" + B64(a) + "?==?ISO-2022-JP?B?" + B64(b) + "?=");
    // After CR LF the column is 0 again: 42 bytes of run fit on the new line.
    const std::string run = kIn + Kanji(18) + kOut;  // 42 bytes
    EXPECT_EQ(Conv(MimeHeaderEncode, "X: y\r\n" + run), "X: y\r\n=?ISO-2022-JP?B?" + B64(run) + "?=");
    // A run that does not even start on a full line moves to the next one.
    const std::string full(70, 'x');
    EXPECT_EQ(Conv(MimeHeaderEncode, full + kIn + Kanji(1) + kOut),
              full + "\r\n\t=?ISO-2022-JP?B?" + B64(kIn + Kanji(1) + kOut) + "?=");
}

TEST(MimeHeader, EncodeEveryLineStaysWithinTheLimit) {
    for (int n = 0; n < 120; n += 7) {
        std::string out = Conv(MimeHeaderEncode, "Subject: " + kIn + Kanji(n) + kOut + " tail");
        out.resize(out.size() - 5);  // ordinary text after the last word may run on
        std::size_t start = 0;
        for (std::size_t at; (at = out.find("\r\n", start)) != std::string::npos; start = at + 2)
            EXPECT_LE(at - start, 75u) << n;
        EXPECT_LE(out.size() - start, 75u) << n;
    }
}

TEST(MimeHeader, EncodeUnclosedRunAndOddEscapesStayInBounds) {
    // No closing sequence: the run lasts to the end and gets no closing escape.
    EXPECT_EQ(Conv(MimeHeaderEncode, kIn + Kanji(2)), "=?ISO-2022-JP?B?" + B64(kIn + Kanji(2)) + "?=");
    // A closing ESC right at the end: the run is cut at the end of the input.
    const std::string cut = kIn + Kanji(1) + kEsc;
    EXPECT_EQ(Conv(MimeHeaderEncode, cut), "=?ISO-2022-JP?B?" + B64(cut) + "?=");
    EXPECT_EQ(Conv(MimeHeaderEncode, std::string(74, 'x') + kEsc + "K"),
              std::string(74, 'x') + "\r\n\t=?ISO-2022-JP?B?" + B64(kEsc + "K") + "?=");
}

TEST(MimeHeader, Decodes) {
    const std::string word = "=?ISO-2022-JP?B?" + B64(kIn + Kanji(3) + kOut) + "?=";
    EXPECT_EQ(Conv(MimeHeaderDecode, "Subject: " + word), "Subject: " + kIn + Kanji(3) + kOut);
    EXPECT_EQ(Conv(MimeHeaderDecode, word + "\r\n\t" + word), kIn + Kanji(3) + kOut + "\r\n\t" + kIn + Kanji(3) + kOut);
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?any-thing?B?YWJj?= x"), "abc x");
    EXPECT_EQ(Conv(MimeHeaderDecode, "a=b =?"), "a=b =?");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?ISO-2022-JP?B?\r\nnext"), "=?ISO-2022-JP?B?\r\nnext");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?ISO-2022-JP?B?"), "=?ISO-2022-JP?B?");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs\r?B?YWJj?="), "=?cs\r?B?YWJj?=");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?BX?YWJj?="), "=?cs?BX?YWJj?=");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?Q?a=41 no end"), "=?cs?Q?a=41 no end");
    EXPECT_EQ(Fails(MimeHeaderDecode, "=?\0"s), Status::InvalidValue);
}

TEST(MimeHeader, DecodesLettersInEitherCase) {
    const std::string run = kIn + Kanji(4) + kOut;
    EXPECT_EQ(Conv(MimeHeaderDecode, "Subject: =?iso-2022-jp?b?" + B64(run) + "?="), "Subject: " + run);
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?utf-8?b?YWJj?=\r\n =?UTF-8?B?ZGVm?="), "abc\r\n def");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?iso-8859-1?q?caf=E9?= =?ISO-8859-1?Q?caf=e9?="), "caf\xE9 caf\xE9");
}

TEST(MimeHeader, QWordsFollowRfc2047) {
    // "_" is a space, but an escaped underscore stays one.
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?Q?a=41_b=5F?= c"), "aA b_ c");
    // A "=" without two hex digits is copied and the next byte read afresh.
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?q?==41=G1=4?="), "=A=G1=4");
    // The word ends at the first "?=", even right after an escape.
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?q?=3F?=?= x"),
              "?"
              "?= x");
    // Other letters keep the quoted-printable rules: no underscore rule.
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?X?a_=41?=b"), "a_Ab");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?q?a_b\r\n?="), "=?cs?q?a_b\r\n?=");
}

TEST(MimeHeader, DecodeOfAWordWithoutItsCloseLosesNothing) {
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?B?YWJj\r\nX"), "abc\r\nX");
    EXPECT_EQ(Conv(MimeHeaderDecode, "=?cs?B?YWJj?x"), "abc?x");
}

TEST(MimeHeader, EncodeThenDecodeGivesTheRunsBackWithInsertedEscapes) {
    const std::string in = "Subject: " + kIn + Kanji(20) + kOut;
    EXPECT_EQ(Conv(MimeHeaderDecode, Conv(MimeHeaderEncode, in)),
              "Subject: " + kIn + Kanji(15) + kOut + "\r\n\t" + kIn + Kanji(5, 15) + kOut);
}

TEST(Uu, EncodeBeginTakesTheNameAfterTheLastBackslash) {
    std::string out;
    ASSERT_EQ(UuEncodeBegin("C:\\data\\report.txt", "644", out), Status::Ok);
    EXPECT_EQ(out, "begin 644 report.txt");
    ASSERT_EQ(UuEncodeBegin("", "644", out), Status::Ok);
    EXPECT_EQ(out, "begin 644 dummy");
    ASSERT_EQ(UuEncodeBegin("a/b c", "x y", out), Status::Ok);
    EXPECT_EQ(out, "begin x y a/b c");
    EXPECT_EQ(UuEncodeBegin("a\0"s, "644", out), Status::InvalidValue);
    EXPECT_EQ(UuEncodeBegin("a", "6\0"s, out), Status::InvalidValue);
}

TEST(Uu, EncodesLengthAndBody) {
    EXPECT_EQ(Conv(UuEncodeByte, std::string(45, 'x')), "M");
    EXPECT_EQ(Conv(UuEncodeByte, "abc"), "#");
    EXPECT_EQ(Conv(UuEncodeByte, ""), "`");
    EXPECT_EQ(Conv(UuEncodeByte, std::string(64, 'x')), "`");
    EXPECT_EQ(Conv(UuEncodeLine, "abc"), "86)C");
    EXPECT_EQ(Conv(UuEncodeLine, "\0"s), "````");
    EXPECT_EQ(Conv(UuEncodeLine, "ab"), "86(`");
    EXPECT_EQ(Conv(UuEncodeLine, ""), "");
    std::string end;
    ASSERT_EQ(UuEncodeEnd(end), Status::Ok);
    EXPECT_EQ(end, "`\r\nend\r\n");
}

TEST(Uu, DecodeBegin) {
    EXPECT_EQ(Conv(UuDecodeBegin, "begin 644 a b.txt"), "a b.txt");
    EXPECT_EQ(Conv(UuDecodeBegin, "begin 644 a.txt\r\n"), "a.txt\r");
    EXPECT_EQ(Conv(UuDecodeBegin, "begin 644 \n"), "");
    EXPECT_EQ(Fails(UuDecodeBegin, "begin644"), Status::InvalidValue);
    EXPECT_EQ(Fails(UuDecodeBegin, "begin 644"), Status::InvalidValue);
    EXPECT_EQ(Fails(UuDecodeBegin, "BEGIN 644 x"), Status::InvalidValue);
    EXPECT_EQ(Fails(UuDecodeBegin, "beg"), Status::InvalidValue);
    EXPECT_EQ(Fails(UuDecodeBegin, ""), Status::InvalidValue);
    EXPECT_EQ(Fails(UuDecodeBegin, "begin 644 a\0"s), Status::InvalidValue);
}

TEST(Uu, DecodeLineGivesExactlyTheCountedBytes) {
    EXPECT_EQ(Conv(UuDecodeLine, "#86)C"), "abc");
    EXPECT_EQ(Conv(UuDecodeLine, "#86)C\r\n"), "abc");
    EXPECT_EQ(Conv(UuDecodeLine, "`"), "");
    EXPECT_EQ(Conv(UuDecodeLine, ""), "");
    EXPECT_EQ(Conv(UuDecodeLine, "end"), std::string(5, '\0'));
    EXPECT_EQ(Conv(UuDecodeLine, "\"86)C"), "ab");      // extra decoded bytes are dropped
    EXPECT_EQ(Conv(UuDecodeLine, "#8\r6\n)C"), "abc");  // CR and LF are skipped anywhere
    EXPECT_EQ(Conv(UuDecodeLine, "$86)"), "ab`\0"s);    // three characters: the fourth reads as 32
    EXPECT_EQ(Fails(UuDecodeLine, "#86\0C"s), Status::InvalidValue);
}

TEST(Uu, LinesRoundTrip) {
    const std::string data = RandomBytes(63 * 5, 9);
    for (std::size_t n = 0; n <= 63; ++n) {
        const std::string piece = data.substr(n * 4, n);
        const std::string line = Conv(UuEncodeByte, piece) + Conv(UuEncodeLine, piece);
        ASSERT_EQ(Conv(UuDecodeLine, line), piece) << n;
    }
}

TEST(Base64, DecodingPiecesCutAtWholeGroupsEqualsDecodingWhole) {
    std::mt19937 rng(11);
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        const unsigned r = rng() % 40;
        text += r == 0 ? '=' : r == 1 ? '\n' : r == 2 ? '\x80' : detail_alphabet()[rng() % 64];
    }
    for (Kernel k : {Kernel::Plain, Kernel::Avx2}) {
        SetBase64Kernel(k);
        std::string whole, pieces;
        ASSERT_EQ(Base64Decode(text, whole), Status::Ok);
        std::string_view rest = text;
        while (!rest.empty()) {
            std::string_view piece = rest.substr(0, 1 + rng() % 5000);
            const std::size_t cut = piece.size() == rest.size() ? piece.size() : Base64WholeGroupsPrefix(piece);
            std::string part;
            Base64Decode(rest.substr(0, cut), part);
            pieces += part;
            rest.remove_prefix(cut);
        }
        EXPECT_EQ(pieces, whole);
    }
    SetBase64Kernel(Kernel::Auto);
}

namespace {

using Conversion = Stream::Conversion;

struct Streamed {
    std::string out;
    Status status = Status::Ok;
};

// The pieces through a Stream; stops at the first failure, as mimetool does.
Streamed InPieces(Conversion conversion, const std::vector<std::string_view>& pieces, std::size_t held = 1 << 20) {
    Streamed r;
    auto sink = [](void* context, const char* data, std::size_t n) {
        static_cast<std::string*>(context)->append(data, n);
    };
    talveron::mime::Stream stream(conversion, sink, &r.out, held);
    for (const std::string_view piece : pieces)
        if ((r.status = stream.Push(piece)) != Status::Ok) return r;
    r.status = stream.Finish();
    return r;
}

}  // namespace

TEST(Stream, EveryCutGivesWhatOneCallGives) {
    const std::string blanks = "  \t \t\t  ";
    const struct {
        Conversion conversion;
        Status (*whole)(std::string_view, std::string&);
        std::string text;
    } cases[] = {
        {Conversion::Base64Encode, Base64Encode, RandomBytes(11, 21)},
        {Conversion::Base64Decode, Base64Decode, "YWJj\r\nYW=I= \x80YQ==\r\nYWI=YQ"},
        {Conversion::QuotedPrintableEncode, QuotedPrintableEncode,
         "a=\xE9" + blanks + "b\r\n" + std::string(74, 'x') + "\xE9" + blanks + "y" + blanks},
        {Conversion::QuotedPrintableDecode, QuotedPrintableDecode, "=41=3d=\r\nab=\rc=4G=\r=\r\n=E9\r\nx=\r\n=4"},
    };
    for (const auto& c : cases) {
        const std::string expected = Conv(c.whole, c.text);
        const std::string_view text = c.text;
        std::vector<std::string_view> bytes;
        for (std::size_t i = 0; i < text.size(); ++i) bytes.push_back(text.substr(i, 1));
        EXPECT_EQ(InPieces(c.conversion, bytes, 3).out, expected);
        for (std::size_t cut = 0; cut <= text.size(); ++cut)
            ASSERT_EQ(InPieces(c.conversion, {text.substr(0, cut), text.substr(cut)}, 5).out, expected) << cut;
    }
}

TEST(Stream, LongTextInRandomPiecesGivesWhatOneCallGives) {
    std::mt19937 rng(22);
    std::string text = QpishText(rng, 300000);
    for (char& c : text)
        if (c == '\0') c = 1;
    const std::string encoded = Conv(QuotedPrintableEncode, text);
    const std::pair<Conversion, std::string> inputs[] = {{Conversion::Base64Encode, text},
                                                         {Conversion::Base64Decode, text + B64(text)},
                                                         {Conversion::QuotedPrintableEncode, text + "  "},
                                                         {Conversion::QuotedPrintableDecode, text + encoded}};
    Status (*whole[])(std::string_view, std::string&) = {Base64Encode, Base64Decode, QuotedPrintableEncode,
                                                         QuotedPrintableDecode};
    for (Kernel kernel : {Kernel::Plain, Kernel::Auto}) {
        SetBase64Kernel(kernel);
        for (std::size_t k = 0; k < 4; ++k) {
            const std::string_view in = inputs[k].second;
            std::vector<std::string_view> pieces;
            for (std::size_t at = 0; at < in.size();) {
                pieces.push_back(in.substr(at, 1 + rng() % 9000));
                at += pieces.back().size();
            }
            EXPECT_EQ(InPieces(inputs[k].first, pieces).out, Conv(whole[k], in)) << k;
        }
    }
    SetBase64Kernel(Kernel::Auto);
}

TEST(Stream, RefusedPieceWritesNothingAndWhatWentBeforeStays) {
    Streamed r = InPieces(Conversion::Base64Decode, {"YWJjYW", "J\0j"s});
    EXPECT_EQ(r.status, Status::InvalidValue);
    EXPECT_EQ(r.out, "abc");  // not the group completed by the refused piece
    r = InPieces(Conversion::QuotedPrintableEncode, {"ab ", "c\0"s});
    EXPECT_EQ(r.status, Status::InvalidValue);
    EXPECT_EQ(r.out, "ab");
    // Quoted-printable decoding takes a zero byte as the end of the text instead.
    r = InPieces(Conversion::QuotedPrintableDecode, {"=4", "1=\0"s, "=42"});
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.out, "A=");
}
