// Quoted-printable decoding's block kernel behind the run-time choice. Private to the codec.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talveron::mime::detail {

struct QpBlocks {
    std::size_t consumed;  // input bytes taken
    std::size_t written;   // output bytes
};

// Decodes from the start of `in` while the text is plain bytes, "=" with two hex digits and
// soft breaks, stopping before anything else (a malformed "=") or near the end; the caller
// goes on from there. Never writes past out + n.
using QpBlocksKernel = QpBlocks (*)(const std::uint8_t* in, std::size_t n, std::uint8_t* out);

#if defined(TALVERON_MIME_HAVE_AVX2)
QpBlocks QpDecodeBlocksAvx2(const std::uint8_t* in, std::size_t n, std::uint8_t* out);
#endif

// The loops both the one-call and the piecewise forms run.
// Writes the forms of in[0, n) on a line that already holds `counter` characters (updated);
// blanks before `literalEnd` as they are, later ones escaped. `w` needs QpEncodeCapacity(n).
char* QpEncodeSome(const std::uint8_t* in, std::size_t n, std::size_t literalEnd, std::size_t& counter, char* w);
constexpr std::size_t QpEncodeCapacity(std::size_t n) { return 3 * n + 3 * (n / 25) + 3; }
// Decodes while two bytes follow the current one; returns the bytes taken (the rest, at most
// two, need what comes after them). `out` needs n bytes.
std::size_t QpDecodeSome(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t& written);

// The block kernel in use, or null for the scalar loop alone (follows SetBase64Kernel).
QpBlocksKernel ActiveQpBlocks();

}  // namespace talveron::mime::detail
