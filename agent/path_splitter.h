// Splits a Windows path into segments and into drive, directory, file name and
// extension, after normalising "." and ".." segments.
#pragma once

#include <string>

namespace qv::agent {

class PathSplitter {
public:
    static constexpr int kMaxSegments = 50;
    static constexpr int kFullPathSize = 260;
    static constexpr int kDriveSize = 3;
    static constexpr int kPartSize = 256;

    explicit PathSplitter(const std::wstring& path);

    const std::wstring& FullPath() const { return fullPath_; }
    const std::wstring& Drive() const { return drive_; }
    const std::wstring& Directory() const { return directory_; }
    const std::wstring& FileName() const { return fileName_; }
    const std::wstring& Extension() const { return extension_; }
    int SegmentCount() const { return segmentCount_; }
    const std::wstring& Segment(int index) const { return segments_[index]; }

private:
    std::wstring segments_[kMaxSegments];
    int segmentCount_ = 0;
    std::wstring fullPath_;
    std::wstring drive_;
    std::wstring directory_;
    std::wstring fileName_;
    std::wstring extension_;
};

}  // namespace qv::agent
