// mimetool MEMBER [ARGS]: calls one member of the Mime control through its dispatch
// interface. Source comes from standard input, the result goes to standard output as raw
// bytes; UuEncodeBegin takes FILE and PERM as arguments. The four body conversions stream:
// standard input is converted in fixed pieces and each piece's result written before the next.
#include "control_internal.h"
#include "mime.h"
#include "mime_codec.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <mutex>
#include <string>
#include <thread>

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

// Standard input in pieces, read on a thread of its own a few pieces ahead of the one being
// converted: reading the input costs about as much as converting it, and the two overlap.
class ReadAhead {
  public:
    static constexpr std::size_t kPiece = std::size_t{1} << 19;
    static constexpr unsigned kSlots = 4;

    struct Piece {
        const char* data = nullptr;
        std::size_t length = 0;
        int error = 0;     // errno of a failed read; the piece holds what came before it
        bool end = false;  // nothing follows
    };

    // Page-aligned: the kernel copies into a misaligned buffer at a fifth of the speed.
    ReadAhead() : storage_(new (std::align_val_t{4096}) char[kPiece * kSlots]), reader_([this] { Run(); }) {}
    // Ends the reading and frees this. Once the last piece was taken the reader has returned;
    // before that it may be blocked on a pipe nobody will write to again, so it and what it
    // uses are left to end with the process.
    void Stop(bool lastTaken) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (!lastTaken) {
            reader_.detach();
            return;
        }
        reader_.join();
        delete this;
    }

    // The next piece; it stays valid until the next call.
    Piece Next() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (taken_) {
            ++consumed_;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return produced_ > consumed_; });
        taken_ = true;
        return slots_[consumed_ % kSlots];
    }

  private:
    void Run() {
        for (unsigned long k = 0;; ++k) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this, k] { return stop_ || k - consumed_ < kSlots; });
                if (stop_) return;
            }
            Piece piece;
            char* data = storage_.get() + (k % kSlots) * kPiece;
            piece.data = data;
            while (piece.length < kPiece) {
                const ssize_t n = read(STDIN_FILENO, data + piece.length, kPiece - piece.length);
                if (n > 0) {
                    piece.length += static_cast<std::size_t>(n);
                } else if (n == 0) {
                    piece.end = true;
                    break;
                } else if (errno != EINTR) {
                    piece.error = errno;
                    break;
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[k % kSlots] = piece;
                ++produced_;
            }
            changed_.notify_all();
            if (piece.end || piece.error != 0) return;
        }
    }

    struct Free {
        void operator()(char* p) const { ::operator delete[](p, std::align_val_t{4096}); }
    };
    std::unique_ptr<char[], Free> storage_;
    Piece slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned long produced_ = 0, consumed_ = 0;
    bool taken_ = false, stop_ = false;
    std::thread reader_;  // last: starts once the rest is ready
};

// A regular file is converted straight from a mapping of it, a window at a time: copying it out
// of the page cache with read() cost as much as converting it. Windows are a multiple of 2 MiB,
// so where the page cache holds the file in large pages each maps at one fault; what is mapped
// counts as the process's memory, so windows stay small. Mapped pages are faulted in as they are
// read: populating them up front with the mapping was no faster.
constexpr std::size_t kWindow = std::size_t{4} << 20;
// What one Push converts: small enough that its result is still in the processor's cache when
// write() copies it out (a multiple of 3 and of 4, so Base64 carries nothing across the slices
// of a window).
constexpr std::size_t kSlice = std::size_t{192} << 10;

// A file cut short while mapped raises SIGBUS on the pages it lost. They are replaced by zero
// pages so the conversion runs on, and from then on nothing is written: the end of the input is
// reported as unreadable instead.
std::atomic<char*> g_windowBegin{nullptr};
std::atomic<char*> g_windowEnd{nullptr};
std::size_t g_pageSize = 4096;
volatile std::sig_atomic_t g_inputCut = 0;

void OnBusError(int, siginfo_t* info, void*) {
    char* const begin = g_windowBegin.load(std::memory_order_relaxed);
    char* const end = g_windowEnd.load(std::memory_order_relaxed);
    auto* const at = static_cast<char*>(info->si_addr);
    if (at >= begin && at < end) {
        char* const page = begin + static_cast<std::size_t>(at - begin) / g_pageSize * g_pageSize;
        if (mmap(page, static_cast<std::size_t>(end - page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) != MAP_FAILED) {
            g_inputCut = 1;
            return;
        }
    }
    std::signal(SIGBUS, SIG_DFL);  // not ours, or no way round it: the access faults again and ends us
}

struct Written {
    int error = 0;  // errno of the first failed write; later output is dropped
};

void WriteOut(void* context, const char* data, std::size_t length) {
    auto* written = static_cast<Written*>(context);
    if (g_inputCut != 0) return;
    if (written->error == 0 && !WriteAll(STDOUT_FILENO, data, length)) written->error = errno;
}

struct Converted {
    talveron::mime::Status status = talveron::mime::Status::Ok;
    int readError = 0;  // errno of a failed read
    bool Stopped(const Written& written) const {
        return status != talveron::mime::Status::Ok || readError != 0 || written.error != 0 || g_inputCut != 0;
    }
};

// Standard input when it is a regular file: from where it stands to the size it has now.
struct FileInput {
    std::size_t start = 0, size = 0;
};

bool IsFileInput(FileInput& file) {
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const off_t start = lseek(STDIN_FILENO, 0, SEEK_CUR);
    if (start < 0) return false;
    file.start = static_cast<std::size_t>(start);
    file.size = std::max(file.start, static_cast<std::size_t>(st.st_size));
    return true;
}

// A file input is converted window by window from a mapping of it, and what was added to the
// file meanwhile read after it. The file offset ends at the end, as reading would leave it.
void ConvertFile(talveron::mime::Stream& stream, Converted& c, const Written& written, const FileInput& file) {
    g_pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction bus {};
    bus.sa_sigaction = OnBusError;
    bus.sa_flags = SA_SIGINFO;
    sigemptyset(&bus.sa_mask);
    struct sigaction before {};
    sigaction(SIGBUS, &bus, &before);

    std::size_t at = file.start;
    const std::size_t size = file.size;
    while (at < size && !c.Stopped(written)) {
        const std::size_t window = at / kWindow * kWindow;
        const std::size_t length = std::min(size - window, kWindow);
        void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, STDIN_FILENO, static_cast<off_t>(window));
        if (mapped == MAP_FAILED) break;  // read from here on instead
        auto* base = static_cast<char*>(mapped);
        g_windowBegin.store(base, std::memory_order_relaxed);
        g_windowEnd.store(base + length, std::memory_order_relaxed);
        for (; at < window + length && !c.Stopped(written); at = std::min(at + kSlice, window + length)) {
            const std::size_t slice = std::min(kSlice, window + length - at);
            c.status = stream.Push(std::string_view(base + (at - window), slice));
        }
        g_windowBegin.store(nullptr, std::memory_order_relaxed);
        g_windowEnd.store(nullptr, std::memory_order_relaxed);
        munmap(mapped, length);
    }
    sigaction(SIGBUS, &before, nullptr);
    // Cut short where a page still held its first bytes, the rest of that page read as zero
    // bytes without a fault.
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) == 0 && static_cast<std::size_t>(st.st_size) < at) g_inputCut = 1;
    if (c.Stopped(written)) return;

    // The rest, if any: the file grew, or could not be mapped from here on.
    if (lseek(STDIN_FILENO, static_cast<off_t>(at), SEEK_SET) < 0) {
        c.readError = errno;
        return;
    }
    static char chunk[1 << 16];
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            c.readError = errno;
            break;
        }
        c.status = stream.Push(std::string_view(chunk, static_cast<std::size_t>(n)));
        if (c.Stopped(written)) break;
    }
}

// A result of known length written at the end of a regular file has its blocks reserved at
// once: the file system then need not reserve them write by write (on ext4 that was a quarter
// of the writing's processor time). Failing that, it is written as it would have been.
bool ReserveOutput(std::size_t length) {
    struct stat st {};
    if (length == 0 || fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const off_t at = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (at != st.st_size) return false;  // writing over what the file holds: nothing to reserve
    return fallocate(STDOUT_FILENO, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(length)) == 0;
}

// After a failure, the reserved blocks past what was written are given back: truncating to the
// size the file has frees them without touching its bytes.
void ReleaseOutputReserve() {
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) == 0) (void)ftruncate(STDOUT_FILENO, st.st_size);
}

// Anything else (a pipe, a terminal) is read on a second thread a few pieces ahead.
void ConvertRead(talveron::mime::Stream& stream, Converted& c, const Written& written) {
    auto* input = new ReadAhead;
    ReadAhead::Piece piece;
    for (;;) {
        piece = input->Next();
        c.status = stream.Push(std::string_view(piece.data, piece.length));
        if (c.status == talveron::mime::Status::Ok) c.readError = piece.error;
        if (c.Stopped(written) || piece.end) break;
    }
    input->Stop(piece.end || piece.error != 0);
}

// One of the four body conversions from standard input to standard output. A piece the
// conversion rejects stops it with the error; what earlier pieces gave has been written.
int StreamConversion(talveron::mime::Stream::Conversion conversion) {
    using talveron::mime::Status;
    Written written;
    talveron::mime::Stream stream(conversion, WriteOut, &written);
    Converted c;
    FileInput file;
    if (IsFileInput(file)) {
        const bool reserved = conversion == talveron::mime::Stream::Conversion::Base64Encode &&
                              ReserveOutput(talveron::mime::Base64Length(file.size - file.start));
        ConvertFile(stream, c, written, file);
        if (!c.Stopped(written)) c.status = stream.Finish();
        if (reserved && c.Stopped(written)) ReleaseOutputReserve();
    } else {
        ConvertRead(stream, c, written);
        if (!c.Stopped(written)) c.status = stream.Finish();
    }
    if (g_inputCut != 0) {
        std::fprintf(stderr, "mimetool: cannot read standard input: the file was cut short while being read\n");
        return 1;
    }
    if (c.status == Status::Ok && written.error == 0 && c.readError != 0) {
        std::fprintf(stderr, "mimetool: cannot read standard input: %s\n", std::strerror(c.readError));
        return 1;
    }
    if (written.error != 0) {
        std::fprintf(stderr, "mimetool: cannot write standard output: %s\n", std::strerror(written.error));
        return 1;
    }
    if (c.status == Status::InvalidValue) return Error(29904, talveron::mime::kInvalidValueText);
    if (c.status == Status::OutOfMemory) return Error(7, talveron::mime::kOutOfMemoryText);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
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

    using Conversion = talveron::mime::Stream::Conversion;
    if (argc == 2) {
        switch (dispid) {
            case MIME_DISPID_BASE64ENCODE:
                return StreamConversion(Conversion::Base64Encode);
            case MIME_DISPID_BASE64DECODE:
                return StreamConversion(Conversion::Base64Decode);
            case MIME_DISPID_QUOTEDPRINTABLEENCODE:
                return StreamConversion(Conversion::QuotedPrintableEncode);
            case MIME_DISPID_QUOTEDPRINTABLEDECODE:
                return StreamConversion(Conversion::QuotedPrintableDecode);
        }
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
