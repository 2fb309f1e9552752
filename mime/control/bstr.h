#pragma once

#include "mime.h"

#include <cstddef>

namespace talveron::mime {

// A string of `capacity` bytes whose contents are not yet written; NULL when out of memory.
char* StrAllocUninitialized(std::size_t capacity);
// Trims a string to `length` (at most its capacity) without reallocating.
void StrSetLength(char* data, std::size_t length);

}  // namespace talveron::mime
