// Pure byte-string conversions of the mime component. No Qt, no automation types:
// the control wraps these, and anything else may call them directly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talveron::mime {

enum class Status {
    Ok,
    InvalidValue,  // the input is rejected (automation error 29904 at the control)
    OutOfMemory,   // the result could not be allocated (automation error 7)
};

// Where a conversion puts its result. Every conversion calls `allocate` exactly once with
// the capacity it needs, writes at most that many bytes and sets `length`; the caller trims.
struct Output {
    using Allocate = char* (*)(void* context, std::size_t capacity);
    Allocate allocate = nullptr;
    void* context = nullptr;
    char* data = nullptr;
    std::size_t length = 0;
};

// Length of the Base64 text of n bytes: 0, or 4 * ceil(n / 3).
constexpr std::size_t Base64Length(std::size_t n) { return (n + 2) / 3 * 4; }

bool HasZeroByte(std::string_view text);

Status Base64Encode(std::string_view source, Output& out);
Status Base64Decode(std::string_view source, Output& out);
Status QuotedPrintableEncode(std::string_view source, Output& out);
Status QuotedPrintableDecode(std::string_view source, Output& out);
Status MimeHeaderEncode(std::string_view source, Output& out);
Status MimeHeaderDecode(std::string_view source, Output& out);
Status UuEncodeBegin(std::string_view fileName, std::string_view permission, Output& out);
Status UuEncodeByte(std::string_view source, Output& out);
Status UuEncodeLine(std::string_view source, Output& out);
Status UuEncodeEnd(Output& out);
Status UuDecodeBegin(std::string_view source, Output& out);
Status UuDecodeLine(std::string_view source, Output& out);

// Length of the longest prefix of `text` whose kept characters (alphabet and "=") make whole
// groups of four: decoding text piece by piece, cut at such prefixes, gives what decoding it
// whole gives.
std::size_t Base64WholeGroupsPrefix(std::string_view text);

// One of the four body conversions on a text that arrives in pieces. The sink receives, in
// order, exactly the bytes one call on the whole text gives, and memory stays bounded however
// long the text is: Base64 keeps at most three characters or two bytes between pieces,
// quoted-printable decoding two bytes, and quoted-printable encoding the blanks that end the
// text so far (whether they are escaped depends on what follows), beyond `heldInMemory` bytes
// in a temporary file. A rejected piece (InvalidValue: a zero byte where the conversion
// refuses one) writes nothing, but what earlier pieces gave has gone to the sink.
class Stream {
  public:
    enum class Conversion { Base64Encode, Base64Decode, QuotedPrintableEncode, QuotedPrintableDecode };
    using Sink = void (*)(void* context, const char* data, std::size_t length);

    Stream(Conversion conversion, Sink sink, void* context, std::size_t heldInMemory = std::size_t{1} << 20);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    Status Push(std::string_view piece);
    Status Finish();  // the end of the text: what was held back goes out

  private:
    struct State;
    State* state_;
};

// The same conversions into a std::string (one allocation, then trimmed in place).
// On failure `result` is left as it was.
Status Base64Encode(std::string_view source, std::string& result);
Status Base64Decode(std::string_view source, std::string& result);
Status QuotedPrintableEncode(std::string_view source, std::string& result);
Status QuotedPrintableDecode(std::string_view source, std::string& result);
Status MimeHeaderEncode(std::string_view source, std::string& result);
Status MimeHeaderDecode(std::string_view source, std::string& result);
Status UuEncodeBegin(std::string_view fileName, std::string_view permission, std::string& result);
Status UuEncodeByte(std::string_view source, std::string& result);
Status UuEncodeLine(std::string_view source, std::string& result);
Status UuEncodeEnd(std::string& result);
Status UuDecodeBegin(std::string_view source, std::string& result);
Status UuDecodeLine(std::string_view source, std::string& result);

// Which Base64 kernels run. Auto picks AVX2 when the processor has it; Plain forces the
// portable path (tests compare both; both give identical bytes).
enum class Kernel { Auto, Plain, Avx2 };
void SetBase64Kernel(Kernel kernel);
Kernel ActiveBase64Kernel();
bool CpuHasAvx2();

}  // namespace talveron::mime
