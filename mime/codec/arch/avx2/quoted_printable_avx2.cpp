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
    // 16 bytes a step, plus the two after them for an escape that starts in the last two.
    while (i + 18 <= n) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const auto eq = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_set1_epi8('='))));
        if (eq == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), a);
            w += 16;
            i += 16;
            continue;
        }
        __m128i valid1, valid2;
        const __m128i h1 = HexValues(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 1)), valid1);
        const __m128i h2 = HexValues(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 2)), valid2);
        const auto hex = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(valid1, valid2)));
        const unsigned digits = (eq << 1) | (eq << 2);  // bytes taken as the escapes' digits
        // Soft breaks and "=" without two hex digits go to the caller. A "=" among another's
        // digits is one of those too ("=" is no hex digit), so escapes never overlap here.
        if ((eq & ~hex) != 0) break;
        const __m128i value =
            _mm_or_si128(_mm_and_si128(_mm_slli_epi16(h1, 4), _mm_set1_epi8(static_cast<char>(0xF0))), h2);
        const __m128i isEq = _mm_cmpeq_epi8(a, _mm_set1_epi8('='));
        const __m128i bytes = _mm_blendv_epi8(a, value, isEq);
        const unsigned keep = ~digits & 0xFFFF;
        const unsigned lo = keep & 0xFF, hi = keep >> 8;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(w),
                         _mm_shuffle_epi8(bytes, _mm_cvtsi64_si128(static_cast<long long>(kCompact.pattern[lo]))));
        w += kCompact.count[lo];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(w),
                         _mm_shuffle_epi8(_mm_srli_si128(bytes, 8),
                                          _mm_cvtsi64_si128(static_cast<long long>(kCompact.pattern[hi]))));
        w += kCompact.count[hi];
        i += 16 + static_cast<unsigned>(__builtin_popcount(digits >> 16));
    }
    return {i, static_cast<std::size_t>(w - out)};
}

}  // namespace talveron::mime::detail
