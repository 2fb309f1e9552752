#include "base64_kernels.h"
#include "codec_output.h"
#include "quoted_printable_kernels.h"
#include "mime_codec.h"

#include <atomic>
#include <cstring>

namespace talveron::mime {
namespace detail {

void EncodePlain(const std::uint8_t* in, std::size_t n, char* out) {
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = kAlphabet[b2 & 63];
    }
    if (n - i == 1) {
        const unsigned b0 = in[i];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[(b0 & 3) << 4];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        const unsigned b0 = in[i], b1 = in[i + 1];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kAlphabet[(b1 & 15) << 2];
        *out++ = '=';
    }
}

std::size_t DecodePlain(const std::uint8_t* in, std::size_t n, std::uint8_t* out, unsigned* leftover) {
    std::uint8_t* const start = out;
    std::uint8_t group[4];
    unsigned have = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t v = kDecode.value[in[i]];
        if (v == kSkip) {
            if (in[i] == 0) return kZeroByte;
            continue;
        }
        group[have++] = v;
        if (have == 4) {
            out += DecodeGroup(group, out);
            have = 0;
        }
    }
    // A final group of one to three characters is ignored.
    if (leftover != nullptr) *leftover = have;
    return static_cast<std::size_t>(out - start);
}

std::size_t CountPlain(const std::uint8_t* in, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += kDecode.value[in[i]] != kSkip;
    return count;
}

}  // namespace detail

namespace {

struct Kernels {
    detail::EncodeKernel encode;
    detail::DecodeKernel decode;
    detail::CountKernel count;
    detail::QpBlocksKernel qpBlocks;
};

Kernels Choose(Kernel kernel) {
#if defined(TALVERON_MIME_HAVE_AVX2)
    if (kernel != Kernel::Plain && CpuHasAvx2())
        return {detail::EncodeAvx2, detail::DecodeAvx2, detail::CountAvx2, detail::QpDecodeBlocksAvx2};
#else
    (void)kernel;
#endif
    return {detail::EncodePlain, detail::DecodePlain, detail::CountPlain, nullptr};
}

std::atomic<detail::EncodeKernel> g_encode{nullptr};
std::atomic<detail::DecodeKernel> g_decode{nullptr};
std::atomic<detail::CountKernel> g_count{nullptr};
std::atomic<detail::QpBlocksKernel> g_qpBlocks{nullptr};

void EnsureChosen() {
    if (g_encode.load(std::memory_order_acquire) == nullptr) SetBase64Kernel(Kernel::Auto);
}

}  // namespace

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

void SetBase64Kernel(Kernel kernel) {
    const Kernels k = Choose(kernel);
    g_decode.store(k.decode, std::memory_order_relaxed);
    g_count.store(k.count, std::memory_order_relaxed);
    g_qpBlocks.store(k.qpBlocks, std::memory_order_relaxed);
    g_encode.store(k.encode, std::memory_order_release);
}

Kernel ActiveBase64Kernel() {
    EnsureChosen();
#if defined(TALVERON_MIME_HAVE_AVX2)
    if (g_encode.load() == detail::EncodeAvx2) return Kernel::Avx2;
#endif
    return Kernel::Plain;
}

namespace detail {
void EncodeActive(const std::uint8_t* in, std::size_t n, char* out) {
    EnsureChosen();
    g_encode.load(std::memory_order_acquire)(in, n, out);
}

std::size_t DecodeActive(const std::uint8_t* in, std::size_t n, std::uint8_t* out, unsigned* leftover) {
    EnsureChosen();
    return g_decode.load(std::memory_order_acquire)(in, n, out, leftover);
}

QpBlocksKernel ActiveQpBlocks() {
    EnsureChosen();
    return g_qpBlocks.load(std::memory_order_relaxed);
}
}  // namespace detail

// An empty view may have no data pointer at all, and memchr must not be given a null one.
bool HasZeroByte(std::string_view text) { return !text.empty() && std::memchr(text.data(), 0, text.size()) != nullptr; }

Status Base64Encode(std::string_view source, Output& out) {
    const std::size_t length = Base64Length(source.size());
    if (!Allocate(out, length)) return Status::OutOfMemory;
    EnsureChosen();
    g_encode.load(std::memory_order_acquire)(reinterpret_cast<const std::uint8_t*>(source.data()), source.size(),
                                             out.data);
    out.length = length;
    return Status::Ok;
}

Status Base64Decode(std::string_view source, Output& out) {
    // The kernels look for zero bytes themselves, among the bytes they skip: a separate pass
    // over the text cost about a third of the time on clean input. The result is allocated
    // before the text is known to be good; callers free it on any failure.
    if (!Allocate(out, (source.size() + 3) / 4 * 3)) return Status::OutOfMemory;
    EnsureChosen();
    const std::size_t written =
        g_decode.load(std::memory_order_acquire)(reinterpret_cast<const std::uint8_t*>(source.data()), source.size(),
                                                 reinterpret_cast<std::uint8_t*>(out.data), nullptr);
    if (written == detail::kZeroByte) {
        out.length = 0;
        return Status::InvalidValue;
    }
    out.length = written;
    return Status::Ok;
}

std::size_t Base64WholeGroupsPrefix(std::string_view text) {
    EnsureChosen();
    const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t left = g_count.load(std::memory_order_acquire)(in, text.size()) % 4;
    std::size_t cut = text.size();
    while (left > 0) {
        --cut;
        if (detail::kDecode.value[in[cut]] != detail::kSkip) --left;
    }
    return cut;
}

}  // namespace talveron::mime
