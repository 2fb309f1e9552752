// The body conversions piece by piece. Each piece is converted by the same code as one whole
// call; only what a piece's end cuts in two is carried to the next.
#include "base64_kernels.h"
#include "codec_output.h"
#include "mime_codec.h"
#include "quoted_printable_kernels.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace talveron::mime {
namespace {

// Blanks are held back while unsure; a long run is written out in pieces of this size.
constexpr std::size_t kHeldChunk = 64 << 10;

// Each piece's result, reused. Page-aligned, as a sink's write() copies out of it: a read()
// into a buffer 16 bytes off a page boundary took five times as long on this machine kind.
struct Buffer {
    static constexpr std::align_val_t kAlign{4096};
    char* data = nullptr;
    std::size_t capacity = 0;
    ~Buffer() { ::operator delete[](data, kAlign); }
};

char* IntoBuffer(void* context, std::size_t capacity) {
    auto* buffer = static_cast<Buffer*>(context);
    if (buffer->data == nullptr || buffer->capacity < capacity) {
        capacity = std::max<std::size_t>(capacity, 4096);  // an empty result needs a place too
        char* grown = new (Buffer::kAlign, std::nothrow) char[capacity];
        if (grown == nullptr) return nullptr;
        ::operator delete[](buffer->data, Buffer::kAlign);
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    return buffer->data;
}

bool Blank(unsigned char c) { return c == ' ' || c == '\t'; }

}  // namespace

struct Stream::State {
    Conversion conversion;
    Sink sink;
    void* context;
    std::size_t heldInMemory;
    Buffer buffer;
    // Base64: the bytes (encoding) or kept characters (decoding) short of a whole group.
    // Quoted-printable decoding: the last bytes, which an escape may continue.
    // Quoted-printable encoding: the blanks that end the text so far; earlier ones in `spill`.
    std::string carry;
    std::FILE* spill = nullptr;
    std::size_t line = 0;  // quoted-printable encoding: characters on the current line
    bool ended = false;    // quoted-printable decoding: a zero byte ended the text

    char* Reserve(std::size_t capacity) { return IntoBuffer(&buffer, capacity); }
    void Send(const char* data, std::size_t length) {
        if (length > 0) sink(context, data, length);
    }

    Status Base64Encode(std::string_view piece);
    Status Base64Decode(std::string_view piece);
    Status QpEncode(std::string_view piece);
    Status QpDecode(std::string_view piece);
    Status QpEncodeHeld(bool literal);
    Status QpEncodeSome(std::string_view text, std::size_t literalEnd);
    Status HoldBlanks(std::string_view blanks);
};

Stream::Stream(Conversion conversion, Sink sink, void* context, std::size_t heldInMemory)
    : state_(new State{conversion, sink, context, heldInMemory, {}, {}}) {}

Stream::~Stream() {
    if (state_->spill != nullptr) std::fclose(state_->spill);
    delete state_;
}

Status Stream::Push(std::string_view piece) {
    switch (state_->conversion) {
        case Conversion::Base64Encode:
            return state_->Base64Encode(piece);
        case Conversion::Base64Decode:
            return state_->Base64Decode(piece);
        case Conversion::QuotedPrintableEncode:
            return state_->QpEncode(piece);
        case Conversion::QuotedPrintableDecode:
            return state_->QpDecode(piece);
    }
    return Status::InvalidValue;
}

Status Stream::Finish() {
    State& s = *state_;
    Status status = Status::Ok;
    switch (s.conversion) {
        case Conversion::Base64Encode: {
            Output out{IntoBuffer, &s.buffer};
            status = mime::Base64Encode(s.carry, out);
            if (status == Status::Ok) s.Send(out.data, out.length);
            break;
        }
        case Conversion::Base64Decode:
            break;  // a last group of one to three characters is ignored
        case Conversion::QuotedPrintableEncode:
            status = s.QpEncodeHeld(false);
            break;
        case Conversion::QuotedPrintableDecode:
            s.Send(s.carry.data(), s.carry.size());  // too short to be an escape
            break;
    }
    s.carry.clear();
    return status;
}

Status Stream::State::Base64Encode(std::string_view piece) {
    // A group completed from the last piece's bytes goes in front of this piece's text, so each
    // piece is one write.
    std::size_t joined = 0;
    if (!carry.empty()) {
        const std::size_t take = std::min(piece.size(), 3 - carry.size());
        carry.append(piece.substr(0, take));
        piece.remove_prefix(take);
        if (carry.size() < 3) return Status::Ok;
        joined = 4;
    }
    const std::size_t whole = piece.size() / 3 * 3;
    const std::size_t length = joined + Base64Length(whole);
    char* out = Reserve(length);
    if (out == nullptr) return Status::OutOfMemory;
    if (joined != 0) detail::EncodePlain(reinterpret_cast<const std::uint8_t*>(carry.data()), 3, out);
    detail::EncodeActive(reinterpret_cast<const std::uint8_t*>(piece.data()), whole, out + joined);
    Send(out, length);
    carry.assign(piece.substr(whole));
    return Status::Ok;
}

Status Stream::State::Base64Decode(std::string_view piece) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(piece.data());
    std::size_t at = 0;
    // Characters carried from the last piece are completed first, one group; it is sent only
    // once the whole piece is known to be good.
    std::uint8_t group[3];
    std::size_t groupLength = 0;
    for (; !carry.empty() && at < piece.size(); ++at) {
        if (in[at] == 0) return Status::InvalidValue;
        if (detail::kDecode.value[in[at]] == detail::kSkip) continue;
        carry.push_back(piece[at]);
        if (carry.size() == 4) {
            groupLength = detail::DecodePlain(reinterpret_cast<const std::uint8_t*>(carry.data()), 4, group, nullptr);
            carry.clear();
            ++at;
            break;
        }
    }
    // The rest is decoded whole behind that group (one write a piece); the characters of its
    // ignored last group are then found from its end and carried.
    const std::size_t n = piece.size() - at;
    auto* out = reinterpret_cast<std::uint8_t*>(Reserve(groupLength + (n + 3) / 4 * 3));
    if (out == nullptr) return Status::OutOfMemory;
    std::memcpy(out, group, groupLength);
    unsigned leftover = 0;
    const std::size_t written = detail::DecodeActive(in + at, n, out + groupLength, &leftover);
    if (written == detail::kZeroByte) return Status::InvalidValue;
    Send(reinterpret_cast<const char*>(out), groupLength + written);
    std::size_t from = piece.size();
    for (unsigned k = 0; k < leftover; --from)
        if (detail::kDecode.value[in[from - 1]] != detail::kSkip) ++k;
    for (; from < piece.size(); ++from)
        if (detail::kDecode.value[in[from]] != detail::kSkip) carry.push_back(piece[from]);
    return Status::Ok;
}

Status Stream::State::QpDecode(std::string_view piece) {
    if (ended) return Status::Ok;
    if (const void* zero = piece.empty() ? nullptr : std::memchr(piece.data(), 0, piece.size())) {
        piece = piece.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - piece.data()));
        ended = true;  // the text ends at its first zero byte; what follows is not read
    }
    // Where the last piece stopped, an escape may stand across the cut: its bytes and the
    // next few are decoded on their own, then the piece goes on from where that stopped.
    std::size_t at = 0;
    if (!carry.empty()) {
        const std::size_t carried = carry.size();
        carry.append(piece.substr(0, 4));
        std::uint8_t joined[8];
        std::size_t written = 0;
        const std::size_t taken =
            detail::QpDecodeSome(reinterpret_cast<const std::uint8_t*>(carry.data()), carry.size(), joined, written);
        Send(reinterpret_cast<const char*>(joined), written);
        if (taken < carried) {  // the piece was too short to settle it
            carry.erase(0, taken);
            return Status::Ok;
        }
        at = taken - carried;
        carry.clear();
    }
    const std::string_view rest = piece.substr(std::min(at, piece.size()));
    char* out = Reserve(rest.size());
    if (out == nullptr) return Status::OutOfMemory;
    std::size_t written = 0;
    const std::size_t taken = detail::QpDecodeSome(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size(),
                                                   reinterpret_cast<std::uint8_t*>(out), written);
    Send(out, written);
    carry.assign(rest.substr(taken));
    return Status::Ok;
}

Status Stream::State::QpEncodeSome(std::string_view text, std::size_t literalEnd) {
    char* out = Reserve(detail::QpEncodeCapacity(text.size()));
    if (out == nullptr) return Status::OutOfMemory;
    const char* end =
        detail::QpEncodeSome(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), literalEnd, line, out);
    Send(out, static_cast<std::size_t>(end - out));
    return Status::Ok;
}

// Writes the blanks held back: as they are once something else followed, else escaped.
Status Stream::State::QpEncodeHeld(bool literal) {
    if (spill != nullptr) {
        std::rewind(spill);
        std::string chunk(kHeldChunk, '\0');
        for (;;) {
            const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), spill);
            if (n == 0) break;
            const Status status = QpEncodeSome(std::string_view(chunk).substr(0, n), literal ? n : 0);
            if (status != Status::Ok) return status;
        }
        const bool failed = std::ferror(spill) != 0;
        std::fclose(spill);
        spill = nullptr;
        if (failed) return Status::OutOfMemory;
    }
    for (std::size_t at = 0; at < carry.size(); at += kHeldChunk) {
        const std::string_view chunk = std::string_view(carry).substr(at, kHeldChunk);
        const Status status = QpEncodeSome(chunk, literal ? chunk.size() : 0);
        if (status != Status::Ok) return status;
    }
    carry.clear();
    return Status::Ok;
}

// Past `heldInMemory`, the held blanks go to a temporary file, so a text of nothing but
// blanks is converted in bounded memory too.
Status Stream::State::HoldBlanks(std::string_view blanks) {
    if (carry.size() + blanks.size() > heldInMemory) {
        if (spill == nullptr && (spill = std::tmpfile()) == nullptr) return Status::OutOfMemory;
        if (std::fwrite(carry.data(), 1, carry.size(), spill) != carry.size() ||
            std::fwrite(blanks.data(), 1, blanks.size(), spill) != blanks.size())
            return Status::OutOfMemory;
        carry.clear();
        return Status::Ok;
    }
    carry.append(blanks);
    return Status::Ok;
}

Status Stream::State::QpEncode(std::string_view piece) {
    if (HasZeroByte(piece)) return Status::InvalidValue;
    const auto* in = reinterpret_cast<const unsigned char*>(piece.data());
    std::size_t tailStart = piece.size();
    while (tailStart > 0 && Blank(in[tailStart - 1])) --tailStart;
    if (tailStart > 0) {
        Status status = QpEncodeHeld(true);
        if (status == Status::Ok) status = QpEncodeSome(piece.substr(0, tailStart), tailStart);
        if (status != Status::Ok) return status;
    }
    return HoldBlanks(piece.substr(tailStart));
}

}  // namespace talveron::mime
