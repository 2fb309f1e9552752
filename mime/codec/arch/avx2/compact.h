// Shared by the AVX2 kernels: moving the kept bytes of 8 to the front with one shuffle.
#pragma once

#include <cstdint>

namespace talveron::mime::detail {

// Shuffle patterns that move the bytes whose mask bit is set to the front of 8 bytes.
struct CompactTable {
    std::uint64_t pattern[256];
    std::uint8_t count[256];
    constexpr CompactTable() : pattern(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            std::uint64_t p = 0;
            unsigned k = 0;
            for (unsigned bit = 0; bit < 8; ++bit)
                if (m & (1u << bit)) p |= static_cast<std::uint64_t>(bit) << (8 * k++);
            pattern[m] = p;
            count[m] = static_cast<std::uint8_t>(k);
        }
    }
};
inline constexpr CompactTable kCompact{};

}  // namespace talveron::mime::detail
