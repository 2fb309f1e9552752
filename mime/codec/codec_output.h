// Helpers shared by the conversions: the one allocation of a result.
#pragma once

#include "mime_codec.h"

namespace talveron::mime {

inline bool Allocate(Output& out, std::size_t capacity) {
    out.length = 0;
    out.data = out.allocate(out.context, capacity);
    return out.data != nullptr;
}

}  // namespace talveron::mime
