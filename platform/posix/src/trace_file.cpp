// The text-mode trace stream: TraceFile and its CR LF stream buffer.
//
// Only qv::platform::TraceFile lives here; path translation is files.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <streambuf>
#include <string>

#include "posix_internal.h"
#include "qv_platform.h"

namespace qv::platform {
namespace {

// Writes through a file descriptor, storing each '\n' as "\r\n" the way the
// Windows CRT does in text mode, so that the files read the same on both
// systems. Output is collected and written on flush (and when plenty has
// gathered); append mode uses O_APPEND so that several processes appending to
// one file do not overwrite each other's lines.
class CrlfFileBuffer final : public std::streambuf {
public:
    CrlfFileBuffer() = default;
    ~CrlfFileBuffer() override { Close(); }
    CrlfFileBuffer(const CrlfFileBuffer&) = delete;
    CrlfFileBuffer& operator=(const CrlfFileBuffer&) = delete;

    bool Open(const char* windowsPath, std::ios_base::openmode mode) {
        if (fd_ >= 0 || windowsPath == nullptr) return false;
        const bool append = (mode & std::ios_base::app) != 0;
        const bool out = (mode & std::ios_base::out) != 0 || append;
        // Reading is not something a trace stream does.
        if (!out || (mode & std::ios_base::in) != 0 ||
            (append && (mode & std::ios_base::trunc) != 0)) {
            return false;
        }
        const std::string path = NativePath(windowsPath);
        if (path.empty()) return false;
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
        do {
            fd_ = ::open(path.c_str(), flags, 0666);
        } while (fd_ < 0 && errno == EINTR);
        return fd_ >= 0;
    }

    bool IsOpen() const { return fd_ >= 0; }

    bool Close() {
        if (fd_ < 0) return false;
        const bool flushed = Flush();
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        pending_.clear();
        return flushed && closed;
    }

protected:
    int_type overflow(int_type character) override {
        if (fd_ < 0) return traits_type::eof();
        if (traits_type::eq_int_type(character, traits_type::eof())) return traits_type::not_eof(character);
        Append(traits_type::to_char_type(character));
        if (pending_.size() >= kFlushThreshold && !Flush()) return traits_type::eof();
        return character;
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        if (fd_ < 0) return 0;
        for (std::streamsize i = 0; i < count; ++i) Append(text[i]);
        if (pending_.size() >= kFlushThreshold && !Flush()) return 0;
        return count;
    }

    int sync() override { return fd_ >= 0 && Flush() ? 0 : -1; }

private:
    static constexpr std::size_t kFlushThreshold = 4096;

    void Append(char character) {
        if (character == '\n') pending_.push_back('\r');
        pending_.push_back(character);
    }

    bool Flush() {
        std::size_t done = 0;
        while (done < pending_.size()) {
            const ssize_t put = ::write(fd_, pending_.data() + done, pending_.size() - done);
            if (put < 0) {
                if (errno == EINTR) continue;
                pending_.clear();
                return false;
            }
            done += static_cast<std::size_t>(put);
        }
        pending_.clear();
        return true;
    }

    int fd_ = -1;
    std::string pending_;
};

}  // namespace

TraceFile::TraceFile() : std::ostream(nullptr), buffer_(std::make_unique<CrlfFileBuffer>()) {
    rdbuf(buffer_.get());
}

TraceFile::TraceFile(const char* windowsPath, std::ios_base::openmode mode) : TraceFile() {
    open(windowsPath, mode);
}

TraceFile::~TraceFile() {
    static_cast<CrlfFileBuffer*>(buffer_.get())->Close();
}

void TraceFile::open(const char* windowsPath, std::ios_base::openmode mode) {
    if (static_cast<CrlfFileBuffer*>(buffer_.get())->Open(windowsPath, mode)) {
        clear();
    } else {
        // Failed: the stream stays failed and every write is dropped.
        setstate(std::ios_base::failbit);
    }
}

bool TraceFile::is_open() const {
    return static_cast<const CrlfFileBuffer*>(buffer_.get())->IsOpen();
}

void TraceFile::close() {
    if (!static_cast<CrlfFileBuffer*>(buffer_.get())->Close()) setstate(std::ios_base::failbit);
}

}  // namespace qv::platform
