#include "codec_output.h"
#include "mime_codec.h"
#include "quoted_printable_kernels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace talveron::mime {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Hex digit values; 0x100 marks a byte that is not one, so a pair of them exceeds 0xFF.
struct HexTable {
    unsigned value[256];
    constexpr HexTable() : value() {
        for (unsigned c = 0; c < 256; ++c) value[c] = 0x100;
        for (unsigned c = 0; c < 10; ++c) value['0' + c] = c;
        for (unsigned c = 0; c < 6; ++c) value['A' + c] = value['a' + c] = 10 + c;
    }
};
constexpr HexTable kHexPair{};

// "=" at i followed by two bytes that are not hex digits: a soft break (dropped) or copied.
std::size_t SlowEscape(const unsigned char* in, std::size_t i, char*& w) {
    const unsigned char x = in[i + 1], y = in[i + 2];
    if (x == '\r') return i + ((y == '\n') ? 3 : 2);
    *w++ = '=';
    *w++ = static_cast<char>(x);
    *w++ = static_cast<char>(y);
    return i + 3;
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

// Each byte's output before the trailing blanks (where blanks are literal): up to three
// characters, then its length in the fourth byte.
struct FormTable {
    char form[256][4];
    constexpr FormTable() : form() {
        for (unsigned c = 0; c < 256; ++c) {
            char* f = form[c];
            if (kLiteral.literal[c] || c == ' ' || c == '\t') {
                f[0] = static_cast<char>(c);
                f[3] = 1;
            } else {
                f[0] = '=';
                f[1] = kHex[c >> 4];
                f[2] = kHex[c & 15];
                f[3] = 3;
            }
        }
    }
};
constexpr FormTable kForms{};

}  // namespace

namespace detail {

char* QpEncodeSome(const std::uint8_t* in, std::size_t n, std::size_t literalEnd, std::size_t& counter, char* w) {
    std::size_t line = counter;
    std::size_t i = 0;
    // Each byte is written as four bytes of a prepared form ("c" or "=XY") and the output
    // moves on by its true length: no branch on the byte, which Japanese text (escaped and
    // literal bytes mixed) mispredicts half the time. Four-byte writes stay inside the
    // capacity up to the last byte but one; the rest takes the exact path. A soft break goes
    // before a byte rather than after the one before, so none follows the text's last byte.
    const std::size_t fast = std::min(literalEnd, n >= 2 ? n - 2 : 0);
    for (; i < fast; ++i) {
        if (line >= 75) {
            std::memcpy(w, "=\r\n", 3);
            w += 3;
            line = 0;
        }
        const char* form = kForms.form[in[i]];
        const auto length = static_cast<unsigned>(form[3]);
        std::memcpy(w, form, 4);
        w += length;
        line += length;
    }
    for (; i < n; ++i) {
        if (line >= 75) {
            std::memcpy(w, "=\r\n", 3);
            w += 3;
            line = 0;
        }
        const unsigned char c = in[i];
        const bool blank = c == ' ' || c == '\t';
        if (kLiteral.literal[c] || (blank && i < literalEnd)) {
            *w++ = static_cast<char>(c);
            line += 1;
        } else {
            *w++ = '=';
            *w++ = kHex[c >> 4];
            *w++ = kHex[c & 15];
            line += 3;
        }
    }
    counter = line;
    return w;
}

std::size_t QpDecodeSome(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t& written) {
    auto* w = reinterpret_cast<char*>(out);
    std::size_t i = 0;
    // Escapes and literal bytes alternate in Japanese text, so the common cases (a byte other
    // than "=", and "=" with two hex digits) are chosen without a branch; only "=" followed by
    // anything else takes the slow way below.
    const QpBlocksKernel blocks = ActiveQpBlocks();
    while (i + 2 < n) {
        if (blocks != nullptr) {
            // The block kernel stops before what it does not take; the scalar steps go on to
            // just past it (at most 16 bytes), then the kernel again.
            const QpBlocks done = blocks(in + i, n - i, reinterpret_cast<std::uint8_t*>(w));
            i += done.consumed;
            w += done.written;
            for (const std::size_t until = i + 16; i < until && i + 2 < n;) {
                const unsigned char c = in[i];
                const unsigned pair = kHexPair.value[in[i + 1]] << 4 | kHexPair.value[in[i + 2]];
                const bool escape = c == '=';
                if (escape && pair > 0xFF) {
                    i = SlowEscape(in, i, w);
                    break;
                }
                *w++ = static_cast<char>(escape ? pair : c);
                i += escape ? 3 : 1;
            }
            continue;
        }
        // Eight bytes without a "=" are copied at once (the usual case in mostly-ASCII text).
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, in + i, 8);
            const std::uint64_t t = word ^ 0x3D3D3D3D3D3D3D3DULL;  // zero bytes where "=" stood
            if (((t - 0x0101010101010101ULL) & ~t & 0x8080808080808080ULL) == 0) {
                std::memcpy(w, in + i, 8);
                w += 8;
                i += 8;
                continue;
            }
        }
        const unsigned char c = in[i];
        const unsigned pair = kHexPair.value[in[i + 1]] << 4 | kHexPair.value[in[i + 2]];
        const bool escape = c == '=';
        if (escape && pair > 0xFF) {
            i = SlowEscape(in, i, w);
            continue;
        }
        *w++ = static_cast<char>(escape ? pair : c);
        i += escape ? 3 : 1;
    }
    written = static_cast<std::size_t>(w - reinterpret_cast<char*>(out));
    return i;
}

}  // namespace detail

Status QuotedPrintableEncode(std::string_view source, Output& out) {
    if (HasZeroByte(source)) return Status::InvalidValue;
    const std::size_t n = source.size();
    // Each byte gives at most 3 characters and a soft break needs 75 characters before it,
    // so there are at most n / 25 breaks. Three bytes per input byte alone would overflow.
    if (!Allocate(out, 3 * n + 3 * (n / 25))) return Status::OutOfMemory;
    const auto* in = reinterpret_cast<const std::uint8_t*>(source.data());
    // A space or TAB is escaped only when nothing but spaces and TABs follows it; finding the
    // last other byte once keeps this linear.
    std::size_t tailStart = n;
    while (tailStart > 0 && (in[tailStart - 1] == ' ' || in[tailStart - 1] == '\t')) --tailStart;
    std::size_t counter = 0;
    out.length = static_cast<std::size_t>(detail::QpEncodeSome(in, n, tailStart, counter, out.data) - out.data);
    return Status::Ok;
}

Status QuotedPrintableDecode(std::string_view source, Output& out) {
    // The text ends at its first zero byte.
    if (const void* zero = source.empty() ? nullptr : std::memchr(source.data(), 0, source.size()))
        source = source.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - source.data()));
    const std::size_t n = source.size();
    if (!Allocate(out, n)) return Status::OutOfMemory;
    const auto* in = reinterpret_cast<const std::uint8_t*>(source.data());
    std::size_t written = 0;
    const std::size_t i = detail::QpDecodeSome(in, n, reinterpret_cast<std::uint8_t*>(out.data), written);
    // At most two bytes are left, and a "=" among them has fewer than two after it: copied.
    if (i < n) std::memcpy(out.data + written, in + i, n - i);
    out.length = written + (n - i);
    return Status::Ok;
}

}  // namespace talveron::mime
