// Counted byte strings: [length][spare] header of 16 bytes, the bytes, a zero byte.
#include "bstr.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace talveron::mime {
namespace {

constexpr std::size_t kHeader = 16;
// Big strings get huge pages: the page faults of a fresh 64 MiB buffer otherwise cost
// more than converting it.
constexpr std::size_t kHugeFrom = std::size_t{4} << 20;
constexpr std::size_t kHugeAlign = std::size_t{2} << 20;

std::size_t* LengthOf(char* data) { return reinterpret_cast<std::size_t*>(data - kHeader); }

}  // namespace

char* StrAllocUninitialized(std::size_t capacity) {
    if (capacity > SIZE_MAX - kHeader - 1) return nullptr;
    const std::size_t total = kHeader + capacity + 1;
    void* region = nullptr;
    if (total >= kHugeFrom) {
        if (posix_memalign(&region, kHugeAlign, total) != 0) return nullptr;
        madvise(region, (total + kHugeAlign - 1) & ~(kHugeAlign - 1), MADV_HUGEPAGE);
    } else {
        region = std::malloc(total);
        if (region == nullptr) return nullptr;
    }
    char* data = static_cast<char*>(region) + kHeader;
    *LengthOf(data) = capacity;
    data[capacity] = '\0';
    return data;
}

void StrSetLength(char* data, std::size_t length) {
    *LengthOf(data) = length;
    data[length] = '\0';
}

}  // namespace talveron::mime

using namespace talveron::mime;

extern "C" {

MimeBStr MimeStrAlloc(const void* bytes, size_t length) {
    char* data = StrAllocUninitialized(length);
    if (data == nullptr) return nullptr;
    // Without bytes the contents are left unwritten for the caller to fill.
    if (bytes != nullptr) std::memcpy(data, bytes, length);
    return data;
}

void MimeStrFree(MimeBStr s) {
    if (s != nullptr) std::free(s - kHeader);
}

size_t MimeStrLen(MimeBStr s) { return s == nullptr ? 0 : *LengthOf(s); }

void MimeVariantClear(MimeVariant* v) {
    if (v == nullptr) return;
    if (v->type == MIME_VT_BSTR) MimeStrFree(v->value.bstr);
    v->type = MIME_VT_EMPTY;
    v->value.pad = 0;
}
}
