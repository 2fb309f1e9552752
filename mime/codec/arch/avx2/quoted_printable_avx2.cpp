// AVX2 build of quoted-printable decoding's common case, called only when the processor has
// AVX2; it gives byte for byte what the scalar loop gives.
#include "../../quoted_printable_kernels.h"
#include "compact.h"

#include <immintrin.h>

namespace talveron::mime::detail {
namespace {

// Per byte: its hex digit value, and all ones in `valid` when it is a hex digit.
inline __m128i HexValues(__m128i x, __m128i& valid) {
    const __m128i digit = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(x, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
    valid = _mm_or_si128(isDigit, isLetter);
    return _mm_blendv_epi8(_mm_add_epi8(letter, _mm_set1_epi8(10)), digit, isDigit);
}

}  // namespace

QpBlocks QpDecodeBlocksAvx2(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    std::size_t i = 0;
    std::uint8_t* w = out;
    // The last block's escape or soft break that runs into this one: the bytes of it here (bit
    // 0, or bits 0 and 1). Steps are a fixed 16 bytes and these are dropped by mask, so the
    // next load's address never waits on this block's bytes.
    unsigned carried = 0;
    // 16 bytes a step, plus the two after them for an escape that starts in the last two.
    for (; i + 18 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i isEq = _mm_cmpeq_epi8(a, _mm_set1_epi8('='));
        const auto eq = static_cast<unsigned>(_mm_movemask_epi8(isEq));
        if ((eq | carried) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), a);
            w += 16;
            continue;
        }
        __m128i valid1, valid2;
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 1));
        const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 2));
        const __m128i h1 = HexValues(b1, valid1);
        const __m128i h2 = HexValues(b2, valid2);
        const auto hex = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(valid1, valid2)));
        const auto crlf = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(b1, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(b2, _mm_set1_epi8('\n')))));
        // A "=" without two hex digits or CR LF after it goes to the caller. Neither digits nor
        // CR LF can be "=", so no escape or soft break starts inside another.
        if ((eq & ~(hex | crlf)) != 0) break;
        const unsigned soft = eq & crlf;  // dropped whole, one every line of encoded text
        const unsigned dropped = (eq << 1) | (eq << 2) | soft | carried;
        const __m128i value =
            _mm_or_si128(_mm_and_si128(_mm_slli_epi16(h1, 4), _mm_set1_epi8(static_cast<char>(0xF0))), h2);
        const __m128i bytes = _mm_blendv_epi8(a, value, isEq);
        const unsigned keep = ~dropped & 0xFFFF;
        const unsigned lo = keep & 0xFF, hi = keep >> 8;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(w),
                         _mm_shuffle_epi8(bytes, _mm_cvtsi64_si128(static_cast<long long>(kCompact.pattern[lo]))));
        w += kCompact.count[lo];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(w),
                         _mm_shuffle_epi8(_mm_srli_si128(bytes, 8),
                                          _mm_cvtsi64_si128(static_cast<long long>(kCompact.pattern[hi]))));
        w += kCompact.count[hi];
        carried = dropped >> 16;
    }
    // The caller goes on after the bytes already taken for the last escape.
    return {i + static_cast<unsigned>(__builtin_popcount(carried)), static_cast<std::size_t>(w - out)};
}

}  // namespace talveron::mime::detail
