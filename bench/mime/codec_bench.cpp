// In-process throughput of the Base64 and quoted-printable conversions, each against memcpy
// and Base64Encode of the same data in the same run. Prints figures; it is not a test.
#include "mime_codec.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace talveron::mime;

namespace {

using Clock = std::chrono::steady_clock;

// Results go to one buffer allocated up front, so the figures are the conversion's own.
struct Reused {
    std::vector<char> buffer;
    static char* Allocate(void* context, std::size_t capacity)
    {
        auto* self = static_cast<Reused*>(context);
        if (self->buffer.size() < capacity)
            self->buffer.resize(capacity);
        return self->buffer.data();
    }
};

template <class F> double BestSeconds(int reps, F f)
{
    double best = 1e9;
    for (int r = 0; r < reps; ++r) {
        const auto t0 = Clock::now();
        f();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (s < best)
            best = s;
    }
    return best;
}

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::string s(n, '\0');
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&s[i], &v, 8);
    }
    return s;
}

// Shift-JIS prose: kanji and kana pairs with ASCII punctuation, spaces and CR LF lines.
std::string JapaneseText(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(n + 80);
    std::size_t column = 0;
    while (s.size() < n) {
        const unsigned pick = rng() % 20;
        if (pick == 0) {
            s += ' ';
        } else if (pick == 1) {
            s += "\x81\x42"; // ideographic full stop
        } else if (pick == 2 && column > 60) {
            s += "\r\n";
            column = 0;
            continue;
        } else if (pick < 6) {
            s += static_cast<char>(0x82);
            s += static_cast<char>(0x9F + rng() % 83); // hiragana
        } else {
            s += static_cast<char>(0x88 + rng() % 8);
            s += static_cast<char>(0x40 + rng() % 63); // kanji
        }
        column += 2;
    }
    s.resize(n);
    return s;
}

std::string Wrapped(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 38 + 2);
    for (std::size_t i = 0; i < text.size(); i += 76)
        out.append(text, i, 76).append("\r\n");
    return out;
}

std::string Foreign(const std::string& text, unsigned seed)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    std::string others;
    for (int b = 1; b < 256; ++b)
        if (alphabet.find(static_cast<char>(b)) == std::string::npos)
            others += static_cast<char>(b);
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (rng() % 10 == 0)
            out += others[rng() % others.size()]; // about 10% of the output
        out += c;
    }
    return out;
}

// One line: throughput counted in bytes of `data` (the raw side: encode's input, decode's
// output), against memcpy of `data` and against encoding `data`, both timed in this run.
// "x encode" is encode time over this conversion's time: 1.00 means as fast as encoding.
void Report(const char* name, std::size_t data, double seconds, double memcpySeconds, double encodeSeconds)
{
    std::printf("%-56s %7.2f GB/s  %5.2f x memcpy  %5.2f x encode\n", name, data / seconds / 1e9,
                memcpySeconds / seconds, encodeSeconds / seconds);
}

double Time(const std::string& input, Status (*convert)(std::string_view, Output&), int reps)
{
    Reused reused;
    Output out{Reused::Allocate, &reused};
    convert(input, out); // sizes the buffer and touches its pages
    return BestSeconds(reps, [&] { convert(input, out); });
}

double TimeMemcpy(std::size_t n, int reps)
{
    std::vector<char> from(n, 'x'), to(n, 'y');
    return BestSeconds(reps, [&] { std::memcpy(to.data(), from.data(), n); });
}

// Encode `data`, then decode its text plain, wrapped at 76 with CR LF, and with foreign bytes.
void Base64Set(const char* what, const std::string& data, const char* tag, int reps)
{
    std::string text;
    Base64Encode(data, text);
    const std::string wrapped = Wrapped(text);
    const std::string foreign = Foreign(text, 3);
    const double copy = TimeMemcpy(data.size(), reps);
    const double encode = Time(data, Base64Encode, reps);
    char label[96];
    std::snprintf(label, sizeof label, "Base64Encode %s%s", what, tag);
    Report(label, data.size(), encode, copy, encode);
    std::snprintf(label, sizeof label, "Base64Decode %s, clean one line%s", what, tag);
    Report(label, data.size(), Time(text, Base64Decode, reps), copy, encode);
    std::snprintf(label, sizeof label, "Base64Decode %s, CR LF every 76%s", what, tag);
    Report(label, data.size(), Time(wrapped, Base64Decode, reps), copy, encode);
    std::snprintf(label, sizeof label, "Base64Decode %s, 10%% foreign bytes%s", what, tag);
    Report(label, data.size(), Time(foreign, Base64Decode, reps), copy, encode);
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const std::size_t size = mib << 20;
    const bool onlyQp = argc > 2 && std::strcmp(argv[2], "qp") == 0; // skips the Base64 lines
    std::printf("mime codec throughput, Base64 kernel: %s; GB/s of the raw data (encode input, decode output)\n",
                ActiveBase64Kernel() == Kernel::Avx2 ? "AVX2" : "plain");
    const std::string random = RandomBytes(size, 1);
    const std::string small = random.substr(0, 4 << 20);
    const std::string japanese = JapaneseText(size, 2);
    char what[64];
    for (Kernel k : {Kernel::Auto, Kernel::Plain}) {
        if (onlyQp)
            break;
        SetBase64Kernel(k);
        const char* tag = k == Kernel::Plain ? " (plain)" : "";
        Base64Set("random 4 MiB", small, tag, 20);
        std::snprintf(what, sizeof what, "random %zu MiB", mib);
        Base64Set(what, random, tag, 5);
        std::snprintf(what, sizeof what, "Japanese %zu MiB", mib);
        Base64Set(what, japanese, tag, 5);
    }
    SetBase64Kernel(Kernel::Auto);
    std::string randomText = random;
    for (char& c : randomText)
        if (c == '\0')
            c = 1; // the encoder rejects zero bytes
    std::string qpRandom, qpJapanese;
    QuotedPrintableEncode(randomText, qpRandom);
    QuotedPrintableEncode(japanese, qpJapanese);
    const double copy = TimeMemcpy(size, 3);
    const double encodeRandom = Time(randomText, Base64Encode, 3);
    const double encodeJapanese = Time(japanese, Base64Encode, 3);
    Report("QuotedPrintableEncode random", size, Time(randomText, QuotedPrintableEncode, 3), copy, encodeRandom);
    Report("QuotedPrintableEncode Japanese", size, Time(japanese, QuotedPrintableEncode, 3), copy, encodeJapanese);
    Report("QuotedPrintableDecode random (its QP text)", size, Time(qpRandom, QuotedPrintableDecode, 3), copy,
           encodeRandom);
    Report("QuotedPrintableDecode Japanese (its QP text)", size, Time(qpJapanese, QuotedPrintableDecode, 3), copy,
           encodeJapanese);
    Report("QuotedPrintableDecode raw random bytes", size, Time(randomText, QuotedPrintableDecode, 3), copy,
           encodeRandom);
    // Decoding counted in the text it reads, as a mail reader meets it.
    for (Kernel k : {Kernel::Auto, Kernel::Plain}) {
        SetBase64Kernel(k);
        const char* tag = k == Kernel::Plain ? " (plain)" : "";
        for (const auto& [name, text] : {std::pair{"random", &qpRandom}, std::pair{"Japanese", &qpJapanese}}) {
            const double seconds = Time(*text, QuotedPrintableDecode, 5);
            std::printf("QuotedPrintableDecode %s, its QP text%-8s %6.2f GB/s of encoded input (%zu MB)\n", name, tag,
                        text->size() / seconds / 1e9, text->size() / 1000000);
        }
    }
    SetBase64Kernel(Kernel::Auto);
    return 0;
}
