#pragma once
// A whole command-line argument as a decimal number within lo..hi.

#include <cstdlib>

inline bool argNumber(const char* text, long lo, long hi, long& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < lo || v > hi)
        return false;
    out = v;
    return true;
}
