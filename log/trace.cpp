#include "log/trace.h"

#include <ostream>

namespace qv::trace {
namespace {

// Opened during static initialisation, so every load of the module empties the
// file again, whether or not a GETNEXT request ever comes; closed with the
// module's other static objects.
qv::platform::TraceFile g_getNextRequestStream(kGetNextPath, std::ios_base::out);

}  // namespace

LocalTrace::LocalTrace(const char* windowsPath)
    : stream_(windowsPath, std::ios_base::out | std::ios_base::app) {}

void LocalTrace::Line(std::string_view text) {
    if (stream_.is_open()) {
        stream_ << text << std::endl;
    }
}

void LocalTrace::Line(std::string_view text, long long number) {
    if (stream_.is_open()) {
        stream_ << text << number << std::endl;
    }
}

void LocalTrace::LineUnsigned(std::string_view text, unsigned long long number) {
    if (stream_.is_open()) {
        stream_ << text << number << std::endl;
    }
}

bool LocalTrace::IsOpen() const {
    return stream_.is_open();
}

qv::platform::TraceFile& GetNextRequestStream() {
    return g_getNextRequestStream;
}

void GetNextLine(std::string_view text) {
    // No is-open check: a stream whose open failed is in the failed state and
    // drops the line by itself.
    g_getNextRequestStream << text << std::endl;
}

}  // namespace qv::trace
