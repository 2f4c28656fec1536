// Helpers of our own that both backends provide, beside the Win32 names.
//
// Only things Win32 has no single call for live here: the trace-file stream
// (a narrow text-mode file that Windows stores with CR LF line ends and that
// others may keep open at the same time) and the translation of a Windows path
// into one the C++ library can open on this system.
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "qv_platform_export.h"

namespace qv::platform {

// The path the running system uses for a Windows path such as
// "C:\QVTEMP\x.txt" or "C:/QVTEMP/x.txt". On Windows this is the path itself;
// on Linux it is empty for a drive or share the system does not have, and
// opening an empty path fails.
QV_PLATFORM_API std::string NativePath(std::string_view windowsPath);

// A narrow text file stream in Windows text mode: every '\n' written is stored
// as CR LF. Opening never throws; a stream that could not be opened is in the
// failed state and ignores what is written to it.
class QV_PLATFORM_API TraceFile : public std::ostream {
public:
    TraceFile();
    TraceFile(const char* windowsPath, std::ios_base::openmode mode);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // Opens the file (out: create or truncate; out|app: create or append).
    void open(const char* windowsPath, std::ios_base::openmode mode);
    bool is_open() const;
    void close();

private:
    std::unique_ptr<std::streambuf> buffer_;
};

}  // namespace qv::platform
