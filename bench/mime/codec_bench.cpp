// In-process throughput of the Base64 and quoted-printable conversions, each against memcpy
// of the same buffer in the same run. Prints figures; it is not a test.
#include "mime_codec.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace talveron::mime;

namespace {

using Clock = std::chrono::steady_clock;

// Results go to one buffer allocated up front, so the figures are the conversion's own.
struct Reused {
    std::vector<char> buffer;
    static char* Allocate(void* context, std::size_t capacity) {
        auto* self = static_cast<Reused*>(context);
        if (self->buffer.size() < capacity) self->buffer.resize(capacity);
        return self->buffer.data();
    }
};

template <class F>
double BestSeconds(int reps, F f) {
    double best = 1e9;
    for (int r = 0; r < reps; ++r) {
        const auto t0 = Clock::now();
        f();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::string s(n, '\0');
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&s[i], &v, 8);
    }
    return s;
}

// Shift-JIS prose: kanji and kana pairs with ASCII punctuation, spaces and CR LF lines.
std::string JapaneseText(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(n + 80);
    std::size_t column = 0;
    while (s.size() < n) {
        const unsigned pick = rng() % 20;
        if (pick == 0) {
            s += ' ';
        } else if (pick == 1) {
            s += "\x81\x42";  // ideographic full stop
        } else if (pick == 2 && column > 60) {
            s += "\r\n";
            column = 0;
            continue;
        } else if (pick < 6) {
            s += static_cast<char>(0x82);
            s += static_cast<char>(0x9F + rng() % 83);  // hiragana
        } else {
            s += static_cast<char>(0x88 + rng() % 8);
            s += static_cast<char>(0x40 + rng() % 63);  // kanji
        }
        column += 2;
    }
    s.resize(n);
    return s;
}

std::string Wrapped(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 38 + 2);
    for (std::size_t i = 0; i < text.size(); i += 76) out.append(text, i, 76).append("\r\n");
    return out;
}

std::string Foreign(const std::string& text, unsigned seed) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    std::string others;
    for (int b = 1; b < 256; ++b)
        if (alphabet.find(static_cast<char>(b)) == std::string::npos) others += static_cast<char>(b);
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (rng() % 10 == 0) out += others[rng() % others.size()];  // about 10% of the output
        out += c;
    }
    return out;
}

void Report(const char* name, std::size_t bytes, double seconds, double memcpySeconds) {
    std::printf("%-44s %8.2f GB/s   %5.2f x memcpy\n", name, bytes / seconds / 1e9, memcpySeconds / seconds);
}

void Measure(const char* name, const std::string& input, Status (*convert)(std::string_view, Output&), int reps) {
    Reused reused;
    Output out{Reused::Allocate, &reused};
    convert(input, out);  // sizes the buffer and touches its pages
    std::vector<char> target(input.size());
    std::memcpy(target.data(), input.data(), input.size());
    const double copy = BestSeconds(reps, [&] { std::memcpy(target.data(), input.data(), input.size()); });
    const double run = BestSeconds(reps, [&] { convert(input, out); });
    Report(name, input.size(), run, copy);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const std::size_t size = mib << 20;
    std::printf("mime codec throughput, %zu MiB buffers, Base64 kernel: %s\n", mib,
                ActiveBase64Kernel() == Kernel::Avx2 ? "AVX2" : "plain");
    const std::string random = RandomBytes(size, 1);
    const std::string japanese = JapaneseText(size, 2);
    std::string clean;
    Base64Encode(std::string_view(random).substr(0, size / 4 * 3), clean);  // about `size` characters
    const std::string wrapped = Wrapped(clean);
    const std::string foreign = Foreign(clean, 3);

    for (Kernel k : {Kernel::Auto, Kernel::Plain}) {
        SetBase64Kernel(k);
        const char* tag = k == Kernel::Plain ? " (plain)" : "";
        const int reps = 5;
        const std::string small = random.substr(0, 4 << 20);
        std::string smallText;
        Base64Encode(small, smallText);
        char label[96];
        std::snprintf(label, sizeof label, "Base64Encode random 4 MiB%s", tag);
        Measure(label, small, Base64Encode, 20);
        std::snprintf(label, sizeof label, "Base64Decode clean 4 MiB input%s", tag);
        Measure(label, smallText.substr(0, 4 << 20), Base64Decode, 20);
        std::snprintf(label, sizeof label, "Base64Encode random%s", tag);
        Measure(label, random, Base64Encode, reps);
        std::snprintf(label, sizeof label, "Base64Encode Japanese%s", tag);
        Measure(label, japanese, Base64Encode, reps);
        std::snprintf(label, sizeof label, "Base64Decode clean one line%s", tag);
        Measure(label, clean, Base64Decode, reps);
        std::snprintf(label, sizeof label, "Base64Decode CR LF every 76%s", tag);
        Measure(label, wrapped, Base64Decode, reps);
        std::snprintf(label, sizeof label, "Base64Decode 10%% foreign bytes%s", tag);
        Measure(label, foreign, Base64Decode, reps);
    }
    SetBase64Kernel(Kernel::Auto);
    std::string randomText = random;
    for (char& c : randomText)
        if (c == '\0') c = 1;  // the encoder rejects zero bytes
    Measure("QuotedPrintableEncode random", randomText, QuotedPrintableEncode, 3);
    Measure("QuotedPrintableEncode Japanese", japanese, QuotedPrintableEncode, 3);
    std::string qpRandom, qpJapanese;
    QuotedPrintableEncode(randomText, qpRandom);
    QuotedPrintableEncode(japanese, qpJapanese);
    Measure("QuotedPrintableDecode random (its QP text)", qpRandom, QuotedPrintableDecode, 3);
    Measure("QuotedPrintableDecode Japanese (its QP text)", qpJapanese, QuotedPrintableDecode, 3);
    Measure("QuotedPrintableDecode raw random bytes", randomText, QuotedPrintableDecode, 3);
    return 0;
}
