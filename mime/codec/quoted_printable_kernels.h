// Quoted-printable decoding's block kernel behind the run-time choice. Private to the codec.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talveron::mime::detail {

struct QpBlocks {
    std::size_t consumed;  // input bytes taken
    std::size_t written;   // output bytes
};

// Decodes from the start of `in` while the text is plain bytes and "=" with two hex digits,
// stopping before anything else (soft breaks, a malformed "=") or near the end; the caller
// goes on from there. Never writes past out + n.
using QpBlocksKernel = QpBlocks (*)(const std::uint8_t* in, std::size_t n, std::uint8_t* out);

#if defined(TALVERON_MIME_HAVE_AVX2)
QpBlocks QpDecodeBlocksAvx2(const std::uint8_t* in, std::size_t n, std::uint8_t* out);
#endif

// The block kernel in use, or null for the scalar loop alone (follows SetBase64Kernel).
QpBlocksKernel ActiveQpBlocks();

}  // namespace talveron::mime::detail
