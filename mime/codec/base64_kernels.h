// Base64 kernels behind the run-time choice. Private to the codec.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talveron::mime::detail {

// Encode n bytes into Base64Length(n) characters (with padding).
using EncodeKernel = void (*)(const std::uint8_t* in, std::size_t n, char* out);
// Decode n bytes of text; skips bytes outside the alphabet, returns the bytes written, or
// kZeroByte when the text holds a zero byte (what was written then means nothing).
// `out` holds at least 3 * ceil(n / 4) bytes. `leftover`, when not null, receives the number of
// kept characters of the ignored last group (0 to 3), so a caller going piece by piece can
// carry them without counting the piece a second time.
inline constexpr std::size_t kZeroByte = static_cast<std::size_t>(-1);
using DecodeKernel = std::size_t (*)(const std::uint8_t* in, std::size_t n, std::uint8_t* out, unsigned* leftover);

void EncodePlain(const std::uint8_t* in, std::size_t n, char* out);
std::size_t DecodePlain(const std::uint8_t* in, std::size_t n, std::uint8_t* out, unsigned* leftover);
// The kernels in use.
void EncodeActive(const std::uint8_t* in, std::size_t n, char* out);
std::size_t DecodeActive(const std::uint8_t* in, std::size_t n, std::uint8_t* out, unsigned* leftover);

// Number of kept characters (alphabet and "=") in n bytes.
using CountKernel = std::size_t (*)(const std::uint8_t* in, std::size_t n);
std::size_t CountPlain(const std::uint8_t* in, std::size_t n);

#if defined(TALVERON_MIME_HAVE_AVX2)
std::size_t CountAvx2(const std::uint8_t* in, std::size_t n);
void EncodeAvx2(const std::uint8_t* in, std::size_t n, char* out);
std::size_t DecodeAvx2(const std::uint8_t* in, std::size_t n, std::uint8_t* out, unsigned* leftover);
#endif

// Shared by the plain and SIMD paths so both treat odd groups alike.
inline constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr std::uint8_t kSkip = 0xFF;
inline constexpr std::uint8_t kPad = 0x40;

struct DecodeTable {
    std::uint8_t value[256];
    constexpr DecodeTable() : value() {
        for (int i = 0; i < 256; ++i) value[i] = kSkip;
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
        value[static_cast<unsigned char>('=')] = kPad;
    }
};
inline constexpr DecodeTable kDecode{};

// One group of four kept characters (values 0..63 or kPad). A pad in the first two places is
// malformed; it reads as value 0 so the output is still defined.
inline std::size_t DecodeGroup(const std::uint8_t v[4], std::uint8_t* out) {
    const unsigned v0 = v[0] & 63, v1 = v[1] & 63, v2 = v[2] & 63, v3 = v[3] & 63;
    out[0] = static_cast<std::uint8_t>((v0 << 2) | (v1 >> 4));
    if (v[2] == kPad) return 1;
    out[1] = static_cast<std::uint8_t>(((v1 & 15) << 4) | (v2 >> 2));
    if (v[3] == kPad) return 2;
    out[2] = static_cast<std::uint8_t>(((v2 & 3) << 6) | v3);
    return 3;
}

}  // namespace talveron::mime::detail
