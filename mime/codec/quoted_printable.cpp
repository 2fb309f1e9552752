#include "codec_output.h"
#include "mime_codec.h"

#include <cstring>

namespace talveron::mime {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Bytes written as they are; space and TAB are decided separately.
struct LiteralTable {
    bool literal[256];
    constexpr LiteralTable() : literal() {
        for (int c = 0x21; c <= 0x7E; ++c) literal[c] = c != 0x3D;
        literal[0x0D] = literal[0x0A] = true;
    }
};
constexpr LiteralTable kLiteral{};

}  // namespace

Status QuotedPrintableEncode(std::string_view source, Output& out) {
    if (HasZeroByte(source)) return Status::InvalidValue;
    const std::size_t n = source.size();
    // Each byte gives at most 3 characters and a soft break needs 75 characters before it,
    // so there are at most n / 25 breaks. Three bytes per input byte alone would overflow.
    if (!Allocate(out, 3 * n + 3 * (n / 25))) return Status::OutOfMemory;
    const auto* in = reinterpret_cast<const unsigned char*>(source.data());

    // A space or TAB is escaped only when nothing but spaces and TABs follows it; finding the
    // last other byte once keeps this linear.
    std::size_t tailStart = n;
    while (tailStart > 0 && (in[tailStart - 1] == ' ' || in[tailStart - 1] == '\t')) --tailStart;

    char* w = out.data;
    std::size_t counter = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        const bool blank = c == ' ' || c == '\t';
        if (kLiteral.literal[c] || (blank && i < tailStart)) {
            *w++ = static_cast<char>(c);
            counter += 1;
        } else {
            *w++ = '=';
            *w++ = kHex[c >> 4];
            *w++ = kHex[c & 15];
            counter += 3;
        }
        if (counter >= 75 && i + 1 < n) {
            *w++ = '=';
            *w++ = '\r';
            *w++ = '\n';
            counter = 0;
        }
    }
    out.length = static_cast<std::size_t>(w - out.data);
    return Status::Ok;
}

Status QuotedPrintableDecode(std::string_view source, Output& out) {
    // The text ends at its first zero byte.
    if (const void* zero = std::memchr(source.data(), 0, source.size()))
        source = source.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - source.data()));
    const std::size_t n = source.size();
    if (!Allocate(out, n)) return Status::OutOfMemory;
    const auto* in = reinterpret_cast<const unsigned char*>(source.data());
    char* w = out.data;
    std::size_t i = 0;
    while (i < n) {
        const void* eq = std::memchr(in + i, '=', n - i);
        const std::size_t stop = eq ? static_cast<std::size_t>(static_cast<const unsigned char*>(eq) - in) : n;
        std::memcpy(w, in + i, stop - i);
        w += stop - i;
        i = stop;
        if (i == n) break;
        if (n - i < 3) {  // "=" with fewer than two bytes after it: copied, and the text ends
            std::memcpy(w, in + i, n - i);
            w += n - i;
            break;
        }
        const unsigned char x = in[i + 1], y = in[i + 2];
        if (x == '\r') {
            i += (y == '\n') ? 3 : 2;
            continue;
        }
        const int hx = HexValue(x), hy = HexValue(y);
        if (hx >= 0 && hy >= 0) {
            *w++ = static_cast<char>(hx * 16 + hy);
        } else {
            *w++ = '=';
            *w++ = static_cast<char>(x);
            *w++ = static_cast<char>(y);
        }
        i += 3;
    }
    out.length = static_cast<std::size_t>(w - out.data);
    return Status::Ok;
}

}  // namespace talveron::mime
