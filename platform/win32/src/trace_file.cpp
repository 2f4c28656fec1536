// Trace-file stream for Windows.
//
// This file must contain only Win32 specific code. The C runtime's text mode
// already stores '\n' as CR LF and opens files with no sharing restriction, so
// a plain file buffer in text mode is the whole job.
#include <fstream>

#include "qv_platform.h"

namespace qv::platform {

TraceFile::TraceFile() : std::ostream(nullptr), buffer_(std::make_unique<std::filebuf>()) {
    rdbuf(buffer_.get());
    setstate(std::ios_base::failbit);
}

TraceFile::TraceFile(const char* windowsPath, std::ios_base::openmode mode) : TraceFile() {
    open(windowsPath, mode);
}

TraceFile::~TraceFile() { close(); }

void TraceFile::open(const char* windowsPath, std::ios_base::openmode mode) {
    auto* file = static_cast<std::filebuf*>(buffer_.get());
    if (file->is_open()) file->close();
    if (file->open(NativePath(windowsPath), mode) == nullptr) {
        setstate(std::ios_base::failbit);
    } else {
        clear();
    }
}

bool TraceFile::is_open() const { return static_cast<std::filebuf*>(buffer_.get())->is_open(); }

void TraceFile::close() {
    auto* file = static_cast<std::filebuf*>(buffer_.get());
    if (file->is_open() && file->close() == nullptr) setstate(std::ios_base::failbit);
}

}  // namespace qv::platform
