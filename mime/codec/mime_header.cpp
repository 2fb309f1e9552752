#include "base64_kernels.h"
#include "codec_output.h"
#include "mime_codec.h"

#include <cstring>

namespace talveron::mime {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr std::string_view kPrefix = "=?ISO-2022-JP?B?";  // "=?%s?%c?" with ISO-2022-JP and B
constexpr std::string_view kSuffix = "?=";
constexpr std::string_view kFold = "\r\n\t";
constexpr unsigned char kKanjiIn[3] = {kEsc, '$', 'B'};
constexpr unsigned char kKanjiOut[3] = {kEsc, '(', 'B'};
constexpr std::size_t kLineLimit = 75;

// The encoder runs twice: once counting, once writing into the exactly sized result.
struct Counter {
    std::size_t length = 0;
    void Put(const void*, std::size_t n) { length += n; }
    void PutBase64(const unsigned char*, std::size_t n) { length += Base64Length(n); }
};
struct Writer {
    char* w;
    void Put(const void* p, std::size_t n) {
        std::memcpy(w, p, n);
        w += n;
    }
    void PutBase64(const unsigned char* p, std::size_t n) {
        detail::EncodePlain(p, n, w);
        w += Base64Length(n);
    }
};

// A chunk of a double-byte run as a view of the input, optionally preceded by the inserted
// kanji-in sequence (then `start` stands for those three bytes).
struct RunView {
    const unsigned char* in;
    std::size_t start;   // first byte of the chunk (input index, or of the inserted sequence)
    bool inserted;       // the chunk begins with an inserted ESC $ B
    std::size_t origin;  // input index the inserted sequence stands in front of
    unsigned char At(std::size_t k) const {
        if (inserted && k < origin) return k >= start ? kKanjiIn[k - start] : 0;
        return k >= start ? in[k] : 0;  // before the chunk: never an ESC that matters
    }
};

template <class Sink>
void EncodeRun(const unsigned char* in, std::size_t runStart, std::size_t runEnd, std::size_t& column, Sink& sink) {
    RunView view{in, runStart, false, runStart};
    unsigned char chunk[kLineLimit];  // a chunk that fits on a line is at most 42 bytes
    for (;;) {
        std::size_t p = runEnd;
        std::size_t length = p - view.start;
        while (column + kPrefix.size() + Base64Length(length) + kSuffix.size() > kLineLimit) {
            if (p >= view.start + 3 && view.At(p - 3) == kEsc) {
                p -= 3;
                if (p > view.start) p -= 2;
            } else {
                p = p >= view.start + 2 ? p - 2 : view.start;
            }
            if (p - view.start > 3) {
                length = p - view.start + 3;  // room for the closing ESC ( B
            } else {
                // Not even one character fits after the prefix: fold first. At column 1 a
                // chunk of 42 bytes fits, so this happens at most once per chunk.
                sink.Put(kFold.data(), kFold.size());
                column = 1;
                p = runEnd;
                length = p - view.start;
            }
        }
        sink.Put(kPrefix.data(), kPrefix.size());
        column += kPrefix.size();
        const bool last = p == runEnd;
        std::size_t used = 0;
        for (std::size_t k = view.start; k < p; ++k) chunk[used++] = view.At(k);
        if (!last) {
            std::memcpy(chunk + used, kKanjiOut, 3);
            used += 3;
        }
        sink.PutBase64(chunk, used);
        column += Base64Length(used);
        sink.Put(kSuffix.data(), kSuffix.size());
        column += kSuffix.size();
        if (last) return;
        sink.Put(kFold.data(), kFold.size());
        column = 1;
        view = RunView{in, p - 3, true, p};
    }
}

template <class Sink>
void EncodeHeader(const unsigned char* in, std::size_t n, Sink& sink) {
    std::size_t column = 0;
    unsigned char previous = 0;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = in[i];
        if (c != kEsc) {
            sink.Put(&c, 1);
            column = (c == '\n' && previous == '\r') ? 0 : column + 1;
            previous = c;
            ++i;
            continue;
        }
        if (i + 1 >= n) return;  // a lone ESC at the end is an escape sequence with nothing in it
        const unsigned char x = in[i + 1];
        std::size_t sequence = 2;
        if (x == '$' || x == '(') {
            if (i + 2 >= n) {
                sink.Put(in + i, 2);
                column += 2;
                return;
            }
            sequence = 3;
        }
        // Outside a run the mode is always single-byte, so every kanji-in sequence opens one.
        if (x == '$' || x == 'K') {
            std::size_t runEnd = n;
            for (std::size_t k = i + sequence; k < n; k += 2) {
                if (in[k] == kEsc) {
                    runEnd = k + 3 < n ? k + 3 : n;
                    break;
                }
            }
            EncodeRun(in, i, runEnd, column, sink);
            i = runEnd;
            continue;
        }
        i += sequence;  // any other escape sequence is dropped
    }
}

bool IsBase64Text(unsigned char c) { return detail::kDecode.value[c] != detail::kSkip; }

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// RFC 2047 "Q" text: "_" is a space, "=" and two hex digits a byte; anything else, a "=" not
// followed by two hex digits included, is copied and the scan moves on by one byte.
unsigned char* DecodeQWord(const unsigned char* p, const unsigned char* end, unsigned char* w) {
    while (p < end) {
        const unsigned char c = *p;
        if (c == '_') {
            *w++ = ' ';
        } else if (c == '=' && end - p >= 3 && HexDigit(p[1]) >= 0 && HexDigit(p[2]) >= 0) {
            *w++ = static_cast<unsigned char>(HexDigit(p[1]) * 16 + HexDigit(p[2]));
            p += 3;
            continue;
        } else {
            *w++ = c;
        }
        ++p;
    }
    return w;
}

}  // namespace

Status MimeHeaderEncode(std::string_view source, Output& out) {
    if (HasZeroByte(source)) return Status::InvalidValue;
    const auto* in = reinterpret_cast<const unsigned char*>(source.data());
    Counter counter;
    EncodeHeader(in, source.size(), counter);
    if (!Allocate(out, counter.length)) return Status::OutOfMemory;
    Writer writer{out.data};
    EncodeHeader(in, source.size(), writer);
    out.length = static_cast<std::size_t>(writer.w - out.data);
    return Status::Ok;
}

Status MimeHeaderDecode(std::string_view source, Output& out) {
    if (HasZeroByte(source)) return Status::InvalidValue;
    const std::size_t n = source.size();
    // Decoded words are never longer than their text, so the input length is enough.
    if (!Allocate(out, n)) return Status::OutOfMemory;
    const auto* in = reinterpret_cast<const unsigned char*>(source.data());
    auto* w = reinterpret_cast<unsigned char*>(out.data);
    auto copy = [&](std::size_t from, std::size_t to) {
        std::memcpy(w, in + from, to - from);
        w += to - from;
    };
    std::size_t i = 0;
    while (i < n) {
        if (in[i] != '=') {
            *w++ = in[i++];
            continue;
        }
        if (i + 1 >= n || in[i + 1] != '?') {
            copy(i, i + 1 < n ? i + 2 : n);
            i += 2;
            continue;
        }
        const auto* cr = static_cast<const unsigned char*>(std::memchr(in + i, '\r', n - i));
        const std::size_t lineEnd = cr ? static_cast<std::size_t>(cr - in) : n;
        const auto* q1 = static_cast<const unsigned char*>(std::memchr(in + i + 2, '?', lineEnd - (i + 2)));
        if (q1 == nullptr) {
            copy(i, lineEnd);
            i = lineEnd;
            continue;
        }
        const std::size_t e = static_cast<std::size_t>(q1 - in) + 1;
        if (e >= lineEnd || e + 1 >= lineEnd || in[e + 1] != '?' || e + 2 >= lineEnd) {
            copy(i, lineEnd);
            i = lineEnd;
            continue;
        }
        const std::size_t text = e + 2;
        // Mail programs write the letter in either case (RFC 2047 makes it case-insensitive).
        if (in[e] == 'B' || in[e] == 'b') {
            std::size_t q = text;
            while (q < lineEnd && IsBase64Text(in[q])) ++q;
            w += detail::DecodePlain(in + text, q - text, w, nullptr);
            // Skip the closing "?=" only where it stands; a word cut short loses nothing after it.
            if (q + 1 < n && in[q] == '?' && in[q + 1] == '=') q += 2;
            i = q;
            continue;
        }
        // "Q" words and other letters: the text up to the first "?=" on this line.
        std::size_t close = text;
        while (close + 1 < lineEnd && !(in[close] == '?' && in[close + 1] == '=')) ++close;
        if (close + 1 >= lineEnd) {
            copy(i, lineEnd);
            i = lineEnd;
            continue;
        }
        if (in[e] == 'Q' || in[e] == 'q') {
            w = DecodeQWord(in + text, in + close, w);
        } else {
            Output word{[](void* ctx, std::size_t) { return static_cast<char*>(ctx); }, w, nullptr, 0};
            QuotedPrintableDecode(source.substr(text, close - text), word);
            w += word.length;
        }
        i = close + 2;
    }
    out.length = static_cast<std::size_t>(w - reinterpret_cast<unsigned char*>(out.data));
    return Status::Ok;
}

}  // namespace talveron::mime
