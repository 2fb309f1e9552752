// The std::string forms of the conversions: one allocation, trimmed in place.
#include "mime_codec.h"

#include <new>
#include <stdexcept>

namespace talveron::mime {
namespace {

char* AllocateString(void* context, std::size_t capacity) {
    auto* s = static_cast<std::string*>(context);
    try {
        s->resize(capacity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    return s->data();
}

template <class Convert>
Status Run(std::string& result, Convert convert) {
    std::string produced;
    Output out{AllocateString, &produced};
    const Status status = convert(out);
    if (status != Status::Ok) return status;
    produced.resize(out.length);  // shrinking keeps the one buffer
    result = std::move(produced);
    return Status::Ok;
}

}  // namespace

#define TALVERON_MIME_STRING_FORM(Name)                                     \
    Status Name(std::string_view source, std::string& result) {             \
        return Run(result, [&](Output& out) { return Name(source, out); }); \
    }
TALVERON_MIME_STRING_FORM(Base64Encode)
TALVERON_MIME_STRING_FORM(Base64Decode)
TALVERON_MIME_STRING_FORM(QuotedPrintableEncode)
TALVERON_MIME_STRING_FORM(QuotedPrintableDecode)
TALVERON_MIME_STRING_FORM(MimeHeaderEncode)
TALVERON_MIME_STRING_FORM(MimeHeaderDecode)
TALVERON_MIME_STRING_FORM(UuEncodeByte)
TALVERON_MIME_STRING_FORM(UuEncodeLine)
TALVERON_MIME_STRING_FORM(UuDecodeBegin)
TALVERON_MIME_STRING_FORM(UuDecodeLine)
#undef TALVERON_MIME_STRING_FORM

Status UuEncodeBegin(std::string_view fileName, std::string_view permission, std::string& result) {
    return Run(result, [&](Output& out) { return UuEncodeBegin(fileName, permission, out); });
}

Status UuEncodeEnd(std::string& result) {
    return Run(result, [&](Output& out) { return UuEncodeEnd(out); });
}

}  // namespace talveron::mime
