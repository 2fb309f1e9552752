// mimetool MEMBER [ARGS]: calls one member of the Mime control through its dispatch
// interface. Source comes from standard input, the result goes to standard output as raw
// bytes; UuEncodeBegin takes FILE and PERM as arguments.
#include "mime.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kFailure = 2;

int Error(std::int32_t code, const char* description) {
    std::fprintf(stderr, "error %d: %s\n", code, description);
    return kFailure;
}

bool WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// All of standard input as one string. A regular file is read straight into a string of
// its size; anything else is gathered first.
bool ReadSome(std::string& into) {
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        into.append(chunk, static_cast<std::size_t>(n));
    }
}

// A regular file is read straight into a string of its size (no copy); a pipe, or a file
// that changed size while being read, is gathered first. On failure readError holds the
// errno of a failed read, or 0 when memory ran out.
MimeBStr ReadInput(int& readError) {
    readError = 0;
    struct stat st {};
    std::string gathered;
    if (fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t at = lseek(STDIN_FILENO, 0, SEEK_CUR);
        const auto size = static_cast<std::size_t>(st.st_size > at && at >= 0 ? st.st_size - at : 0);
        MimeBStr s = MimeStrAlloc(nullptr, size);
        if (s == nullptr) return nullptr;
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = read(STDIN_FILENO, s + got, size - got);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                readError = errno;
                MimeStrFree(s);
                return nullptr;
            }
            got += static_cast<std::size_t>(n);
        }
        std::string rest;
        const bool restRead = ReadSome(rest);
        if (!restRead) {
            readError = errno;
            MimeStrFree(s);
            return nullptr;
        }
        if (got == size && rest.empty()) return s;
        gathered.assign(s, got);
        gathered += rest;
        MimeStrFree(s);
    }
    if (!ReadSome(gathered)) {
        readError = errno != 0 ? errno : EIO;
        return nullptr;
    }
    return MimeStrAlloc(gathered.data(), gathered.size());
}

MimeResult CallOne(MimeDispatch* mime, std::int32_t dispid, MimeBStr source, MimeVariant& result,
                   MimeExcepInfo& excep) {
    MimeVariant arg{};
    arg.type = MIME_VT_BSTR | MIME_VT_BYREF;
    arg.value.pbstr = &source;
    return MimeInvoke(mime, dispid, MIME_DISPATCH_METHOD, &arg, 1, &result, &excep);
}

// Decoding pieces are 128 KiB: a piece, its copy and its result stay in the second-level cache.
constexpr std::size_t kDecodePiece = 1 << 17;

// One member call on data[0, length); the result string goes to the caller (null on failure,
// after the error is printed).
MimeBStr CallPiece(MimeDispatch* mime, std::int32_t dispid, const char* data, std::size_t length) {
    MimeBStr source = MimeStrAlloc(data, length);
    if (source == nullptr) {
        Error(7, "Out of memory");
        return nullptr;
    }
    MimeVariant result{};
    MimeExcepInfo excep{};
    const MimeResult r = CallOne(mime, dispid, source, result, excep);
    MimeStrFree(source);
    if (r != MIME_S_OK) {
        Error(excep.code, excep.description ? excep.description : "failure");
        return nullptr;
    }
    return result.value.bstr;
}

// Writes and frees one result; false (with the message printed) when standard output fails.
bool WriteResult(MimeBStr result) {
    const bool ok = WriteAll(STDOUT_FILENO, result, MimeStrLen(result));
    const int saved = errno;
    MimeStrFree(result);
    if (!ok) std::fprintf(stderr, "mimetool: cannot write standard output: %s\n", std::strerror(saved));
    return ok;
}

// Where the next decoding piece of data[at, size) ends: at whole groups of four kept
// characters, or the rest when fewer than four are kept in a whole piece.
std::size_t DecodePieceLength(const char* data, std::size_t at, std::size_t size) {
    const std::size_t piece = std::min(size - at, kDecodePiece);
    if (at + piece == size) return piece;
    const std::size_t cut = MimeBase64WholeGroupsPrefix(data + at, piece);
    return cut > 0 ? cut : size - at;
}

// Decoding on two cores. The first half is cut into pieces of whole groups up to just before
// the middle; where it stops, the second half starts, so the halves decode on their own and
// together give the bytes of one call. While this thread cuts the first half (and checks it
// for zero bytes piece by piece, in cache), the other checks the second half; only when
// neither holds a zero byte does anything get written. Then this thread decodes and writes
// the first half while the other decodes the second and keeps its results until then.
// Returns -1, with nothing written, for a zero byte or an input the cut does not suit.
int DecodeTwoThreads(MimeDispatch* mime, const char* data, std::size_t size) {
    const std::size_t middle = size / 2;
    std::promise<std::size_t> start;  // where the second half starts; size: give up
    // The second half's result, held until the first is written: fresh memory, so in huge
    // pages where the system allows, which saves most of the page faults.
    const std::size_t heldCapacity =
        ((size - middle + 3) / 4 * 3 + kDecodePiece + (2 << 20) - 1) & ~std::size_t{(2 << 20) - 1};
    void* heldMap = mmap(nullptr, heldCapacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (heldMap == MAP_FAILED) return -1;
    madvise(heldMap, heldCapacity, MADV_HUGEPAGE);
    char* held = static_cast<char*>(heldMap);
    std::size_t heldLength = 0;
    bool heldOk = true;
    std::packaged_task<bool()> secondZero(
        [data, size, middle] { return std::memchr(data + middle, 0, size - middle) != nullptr; });
    std::future<bool> zeroFound = secondZero.get_future();
    std::thread other([&, startAt = start.get_future()]() mutable {
        secondZero();
        std::size_t at = startAt.get();
        MimeDispatch* own = MimeCreate();  // an object of its own for this thread's calls
        if (own == nullptr && at < size) {
            heldOk = false;
            Error(7, "Out of memory");
            return;
        }
        while (at < size) {
            const std::size_t piece = DecodePieceLength(data, at, size);
            MimeBStr result = CallPiece(own, MIME_DISPID_BASE64DECODE, data + at, piece);
            if (result == nullptr) {
                heldOk = false;
                break;
            }
            const std::size_t n = MimeStrLen(result);
            std::memcpy(held + heldLength, result, n);
            heldLength += n;
            MimeStrFree(result);
            at += piece;
        }
        if (own != nullptr) MimeRelease(own);
    });
    std::vector<std::size_t> pieces;
    bool suited = true;
    std::size_t at = 0;
    while (at < middle) {
        const std::size_t piece = std::min(middle - at, kDecodePiece);
        const std::size_t cut = MimeBase64WholeGroupsPrefix(data + at, piece);
        if (std::memchr(data + at, 0, piece) != nullptr || (cut == 0 && at + piece < middle)) {
            suited = false;
            break;
        }
        if (cut > 0) pieces.push_back(cut);
        const bool last = at + piece == middle;
        at += cut;
        if (last) break;
    }
    if (!suited || zeroFound.get()) {
        start.set_value(size);
        other.join();
        munmap(heldMap, heldCapacity);
        return -1;
    }
    start.set_value(at);
    int status = 0;
    at = 0;
    for (const std::size_t piece : pieces) {
        MimeBStr result = CallPiece(mime, MIME_DISPID_BASE64DECODE, data + at, piece);
        if (result == nullptr)
            status = kFailure;
        else if (!WriteResult(result))
            status = 1;
        if (status != 0) break;
        at += piece;
    }
    other.join();
    if (status == 0 && !heldOk) status = kFailure;
    if (status == 0 && !WriteAll(STDOUT_FILENO, held, heldLength)) {
        std::fprintf(stderr, "mimetool: cannot write standard output: %s\n", std::strerror(errno));
        status = 1;
    }
    munmap(heldMap, heldCapacity);
    return status;
}

// Base64 of a large regular file goes through the member piece by piece, so the buffers stay
// in cache: encoding in multiples of three bytes, decoding at whole groups of four kept
// characters (on two threads when there are two cores). Both give exactly what one call on
// the whole input gives. Returns -1 when the input is not suited (then the caller makes one
// call as usual).
int StreamBase64(MimeDispatch* mime, std::int32_t dispid) {
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode) || lseek(STDIN_FILENO, 0, SEEK_CUR) != 0) return -1;
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size < (std::size_t{1} << 20)) return -1;
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, STDIN_FILENO, 0);
    if (map == MAP_FAILED) return -1;
    // Unmapped on every way out.
    struct Unmap {
        void* map;
        std::size_t size;
        ~Unmap() { munmap(map, size); }
    } unmap{map, size};
    const char* data = static_cast<const char*>(map);
    const bool decode = dispid == MIME_DISPID_BASE64DECODE;
    if (decode && std::thread::hardware_concurrency() >= 2) {
        const int done = DecodeTwoThreads(mime, data, size);
        if (done >= 0 || std::memchr(data, 0, size) != nullptr) return done;
    }
    // A zero byte makes the whole call fail; let the single call report it, with no output.
    if (decode && std::memchr(data, 0, size) != nullptr) return -1;
    constexpr std::size_t kEncodePiece = 3 * (256 << 10);
    std::size_t at = 0;
    while (at < size) {
        const std::size_t piece = decode ? DecodePieceLength(data, at, size) : std::min(size - at, kEncodePiece);
        MimeBStr result = CallPiece(mime, dispid, data + at, piece);
        if (result == nullptr) return kFailure;
        if (!WriteResult(result)) return 1;
        at += piece;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The pieces of a streamed Base64 file are allocated and freed hundreds of times; kept on
    // the heap (not mapped afresh, not trimmed) they reuse the same warm, already faulted memory.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    if (argc < 2) {
        std::fprintf(stderr, "usage: mimetool MEMBER [ARGS]   (Source is read from standard input)\n");
        return kFailure;
    }
    MimeDispatch* mime = MimeCreate();
    if (mime == nullptr) return Error(7, "Out of memory");
    std::int32_t dispid = 0;
    if (MimeGetIDOfName(mime, argv[1], &dispid) != MIME_S_OK)
        return Error(438, "Object doesn't support this property or method");

    const MimeMemberInfo* info = nullptr;
    for (std::uint32_t k = 0; k < MimeMemberCount(); ++k)
        if (MimeMemberAt(k)->dispid == dispid) info = MimeMemberAt(k);

    if ((dispid == MIME_DISPID_BASE64ENCODE || dispid == MIME_DISPID_BASE64DECODE) && argc == 2) {
        const int streamed = StreamBase64(mime, dispid);
        if (streamed >= 0) return streamed;
    }

    // Arguments: a Source parameter reads standard input; others come from the command line.
    MimeBStr strings[8] = {};
    MimeVariant args[8] = {};
    std::uint32_t count = 0;
    const bool takesSource = info->param_count == 1 && std::strcmp(info->param_names[0], "Source") == 0;
    if (takesSource) {
        // With arguments besides Source the call cannot succeed: leave standard input alone
        // and let the member report the argument count.
        int readError = 0;
        strings[count] = argc > 2 ? MimeStrAlloc("", 0) : ReadInput(readError);
        if (strings[count] == nullptr && readError != 0) {
            std::fprintf(stderr, "mimetool: cannot read standard input: %s\n", std::strerror(readError));
            return 1;
        }
        if (strings[count] == nullptr) return Error(7, "Out of memory");
        ++count;
    }
    for (int a = 2; a < argc && count < 8; ++a) {
        strings[count] = MimeStrAlloc(argv[a], std::strlen(argv[a]));
        ++count;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        args[k].type = MIME_VT_BSTR | MIME_VT_BYREF;
        args[k].value.pbstr = &strings[k];
    }

    const std::uint16_t flags =
        info->kind == MIME_MEMBER_PROPERTY_READONLY ? MIME_DISPATCH_PROPERTYGET : MIME_DISPATCH_METHOD;
    MimeVariant result{};
    MimeExcepInfo excep{};
    const MimeResult r = MimeInvoke(mime, dispid, flags, args, count, &result, &excep);
    if (r != MIME_S_OK) return Error(excep.code, excep.description ? excep.description : "failure");

    bool ok = true;
    if (result.type == MIME_VT_I2) {
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%d\n", result.value.i2);
        ok = WriteAll(STDOUT_FILENO, text, static_cast<std::size_t>(n));
    } else if (result.type == MIME_VT_BSTR && result.value.bstr != nullptr) {
        ok = WriteAll(STDOUT_FILENO, result.value.bstr, MimeStrLen(result.value.bstr));
        if (ok && info->kind == MIME_MEMBER_PROPERTY_READONLY) ok = WriteAll(STDOUT_FILENO, "\n", 1);
    }
    if (!ok) {
        std::fprintf(stderr, "mimetool: cannot write standard output: %s\n", std::strerror(errno));
        return 1;
    }
    // The process ends here; the strings and the object go with it.
    return 0;
}
