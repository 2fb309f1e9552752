// libFuzzer targets, one per conversion, chosen at build time by TALVERON_FUZZ_TARGET.
// Every input must give a defined result or a rejection, never an access outside buffers;
// the round trip target also checks that decoding gives the input back.
#include "mime_codec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace talveron::mime;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void Once(std::string_view in) {
    std::string out;
#if TALVERON_FUZZ_TARGET == 1
    Check(Base64Encode(in, out) == Status::Ok && out.size() == Base64Length(in.size()));
#elif TALVERON_FUZZ_TARGET == 2
    if (Base64Decode(in, out) == Status::Ok) Check(out.size() <= (in.size() + 3) / 4 * 3);
#elif TALVERON_FUZZ_TARGET == 3
    QuotedPrintableEncode(in, out);
#elif TALVERON_FUZZ_TARGET == 4
    Check(QuotedPrintableDecode(in, out) == Status::Ok && out.size() <= in.size());
#elif TALVERON_FUZZ_TARGET == 5
    MimeHeaderEncode(in, out);
#elif TALVERON_FUZZ_TARGET == 6
    MimeHeaderDecode(in, out);
#elif TALVERON_FUZZ_TARGET == 7
    const std::size_t half = in.size() / 2;
    UuEncodeBegin(in.substr(0, half), in.substr(half), out);
    UuEncodeByte(in, out);
    UuEncodeLine(in, out);
#elif TALVERON_FUZZ_TARGET == 8
    UuDecodeBegin(in, out);
    UuDecodeLine(in, out);
#elif TALVERON_FUZZ_TARGET == 9
    // Round trips where they must hold.
    std::string back;
    Base64Encode(in, out);
    Check(Base64Decode(out, back) == Status::Ok && back == in);
    if (!HasZeroByte(in)) {
        Check(QuotedPrintableEncode(in, out) == Status::Ok);
        Check(QuotedPrintableDecode(out, back) == Status::Ok && back == in);
    }
    std::string_view piece = in.substr(0, 63);
    std::string length, body;
    UuEncodeByte(piece, length);
    UuEncodeLine(piece, body);
    Check(UuDecodeLine(length + body, back) == Status::Ok && back == piece);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    Once(in);
#if TALVERON_FUZZ_TARGET == 1 || TALVERON_FUZZ_TARGET == 2 || TALVERON_FUZZ_TARGET == 4 || TALVERON_FUZZ_TARGET == 9
    // The portable paths must agree with the SIMD ones.
    auto convert = [&](std::string& result) {
        if (TALVERON_FUZZ_TARGET == 1) return Base64Encode(in, result);
        if (TALVERON_FUZZ_TARGET == 4) return QuotedPrintableDecode(in, result);
        return Base64Decode(in, result);
    };
    std::string simd, plain;
    SetBase64Kernel(Kernel::Auto);
    const Status a = convert(simd);
    SetBase64Kernel(Kernel::Plain);
    const Status b = convert(plain);
    SetBase64Kernel(Kernel::Auto);
    Check(a == b && simd == plain);
#endif
    return 0;
}
