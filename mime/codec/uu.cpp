#include "codec_output.h"
#include "mime_codec.h"

#include <cstring>

namespace talveron::mime {
namespace {

char UuChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }
unsigned UuValue(unsigned char c) { return (c - 32u) & 63u; }

Status Fixed(std::string_view text, Output& out) {
    if (!Allocate(out, text.size())) return Status::OutOfMemory;
    if (!text.empty()) std::memcpy(out.data, text.data(), text.size());
    out.length = text.size();
    return Status::Ok;
}

}  // namespace

Status UuEncodeBegin(std::string_view fileName, std::string_view permission, Output& out) {
    if (HasZeroByte(fileName) || HasZeroByte(permission)) return Status::InvalidValue;
    const std::size_t slash = fileName.rfind('\\');
    std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    // Only an empty FileName becomes "dummy"; "dir\" keeps its empty name.
    if (fileName.empty()) name = "dummy";
    const std::size_t length = 6 + permission.size() + 1 + name.size();
    if (!Allocate(out, length)) return Status::OutOfMemory;
    char* w = out.data;
    std::memcpy(w, "begin ", 6);
    w += 6;
    if (!permission.empty()) std::memcpy(w, permission.data(), permission.size());
    w += permission.size();
    *w++ = ' ';
    if (!name.empty()) std::memcpy(w, name.data(), name.size());
    out.length = length;
    return Status::Ok;
}

Status UuEncodeByte(std::string_view source, Output& out) {
    const char c = UuChar(static_cast<unsigned>(source.size() & 63));
    return Fixed(std::string_view(&c, 1), out);
}

Status UuEncodeLine(std::string_view source, Output& out) {
    const std::size_t n = source.size();
    const std::size_t length = (n + 2) / 3 * 4;
    if (!Allocate(out, length)) return Status::OutOfMemory;
    const auto* in = reinterpret_cast<const unsigned char*>(source.data());
    char* w = out.data;
    for (std::size_t i = 0; i < n; i += 3) {
        const unsigned b0 = in[i], b1 = i + 1 < n ? in[i + 1] : 0, b2 = i + 2 < n ? in[i + 2] : 0;
        *w++ = UuChar(b0 >> 2);
        *w++ = UuChar(((b0 << 4) & 63) | (b1 >> 4));
        *w++ = UuChar(((b1 << 2) & 63) | (b2 >> 6));
        *w++ = UuChar(b2 & 63);
    }
    out.length = length;
    return Status::Ok;
}

Status UuEncodeEnd(Output& out) { return Fixed(std::string_view("`\r\nend\r\n", 8), out); }

Status UuDecodeBegin(std::string_view source, Output& out) {
    if (HasZeroByte(source) || source.substr(0, 5) != "begin") return Status::InvalidValue;
    if (source.back() == '\n') source.remove_suffix(1);
    const std::size_t first = source.find(' ');
    if (first == std::string_view::npos) return Status::InvalidValue;
    const std::size_t second = source.find(' ', first + 1);
    if (second == std::string_view::npos) return Status::InvalidValue;
    return Fixed(source.substr(second + 1), out);
}

Status UuDecodeLine(std::string_view source, Output& out) {
    if (HasZeroByte(source)) return Status::InvalidValue;
    if (source.empty()) return Fixed({}, out);
    const std::size_t n = UuValue(static_cast<unsigned char>(source[0]));
    if (!Allocate(out, n)) return Status::OutOfMemory;
    auto* w = reinterpret_cast<unsigned char*>(out.data);
    std::size_t written = 0;
    unsigned group[4];
    unsigned have = 0;
    auto emit = [&](unsigned u0, unsigned u1, unsigned u2, unsigned u3) {
        const unsigned char bytes[3] = {static_cast<unsigned char>((u0 << 2) | (u1 >> 4)),
                                        static_cast<unsigned char>(((u1 & 15) << 4) | (u2 >> 2)),
                                        static_cast<unsigned char>(((u2 & 3) << 6) | u3)};
        for (unsigned char b : bytes)
            if (written < n) w[written++] = b;
    };
    for (std::size_t i = 1; i < source.size() && written < n; ++i) {
        const auto c = static_cast<unsigned char>(source[i]);
        if (c == '\r' || c == '\n') continue;
        group[have++] = UuValue(c);
        if (have == 4) {
            emit(group[0], group[1], group[2], group[3]);
            have = 0;
        }
    }
    // A last group of three reads a fourth character of value 32 (what the zero byte after
    // the text reads as); one or two characters are ignored.
    if (have == 3 && written < n) emit(group[0], group[1], group[2], 32);
    std::memset(w + written, 0, n - written);
    out.length = n;
    return Status::Ok;
}

}  // namespace talveron::mime
