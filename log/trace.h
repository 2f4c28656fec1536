// Step-trace files: narrow text lines, each flushed, written only when the
// debug directory exists.
#pragma once

#include <string_view>

#include "qv_platform.h"

namespace qv::trace {

inline constexpr const char kDllMainPath[] = "C:/QVTEMP/QVSNMPDEBUG/SNMPlogDllMain.txt";
inline constexpr const char kInitPath[] = "C:/QVTEMP/QVSNMPDEBUG/SNMPlogInit.txt";
inline constexpr const char kGetNextPath[] = "C:/QVTEMP/QVSNMPDEBUG/GetNextRequest.txt";

// A trace stream local to one call: opened for appending at construction, closed at destruction.
class LocalTrace {
public:
    explicit LocalTrace(const char* windowsPath);
    LocalTrace(const LocalTrace&) = delete;
    LocalTrace& operator=(const LocalTrace&) = delete;

    // Each writes only while the stream is open.
    void Line(std::string_view text);
    void Line(std::string_view text, long long number);
    void LineUnsigned(std::string_view text, unsigned long long number);
    bool IsOpen() const;

private:
    qv::platform::TraceFile stream_;
};

// The process-wide GETNEXT trace stream, opened for writing (truncated) when the module is loaded.
qv::platform::TraceFile& GetNextRequestStream();
void GetNextLine(std::string_view text);  // writes text + std::endl without an is-open check

}  // namespace qv::trace
