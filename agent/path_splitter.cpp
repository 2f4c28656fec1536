#include "agent/path_splitter.h"

#include <vector>

#include "qv_windows.h"

namespace qv::agent {
namespace {

// Splits at backslashes, skipping the empty pieces between consecutive ones.
std::vector<std::wstring> SplitAtBackslashes(const std::wstring& path) {
    std::vector<std::wstring> pieces;
    std::wstring current;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!current.empty()) pieces.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) pieces.push_back(std::move(current));
    return pieces;
}

// Drops "." and lets ".." remove the name segment before it. A ".." with no
// name segment before it (at the start, after other such "..", or right after
// a drive such as "C:", which is no name to climb out of) stays, so a run of
// ".." climbs as far as there are names and keeps the rest.
std::vector<std::wstring> Normalise(const std::vector<std::wstring>& pieces) {
    std::vector<std::wstring> kept;
    for (const std::wstring& piece : pieces) {
        if (piece == L".") continue;
        if (piece == L".." && !kept.empty() && kept.back() != L".." && kept.back().back() != L':') {
            kept.pop_back();
            continue;
        }
        kept.push_back(piece);
    }
    return kept;
}

}  // namespace

PathSplitter::PathSplitter(const std::wstring& path) {
    if (path.size() < 5) {
        segmentCount_ = 1;  // one empty segment
    } else {
        const std::vector<std::wstring> pieces = SplitAtBackslashes(path);
        if (static_cast<int>(pieces.size()) > kMaxSegments) {
            // Too many segments to hold: the path is used as it is.
            fullPath_ = path;
            segmentCount_ = 0;
        } else {
            const std::vector<std::wstring> kept = Normalise(pieces);
            segmentCount_ = static_cast<int>(kept.size());
            for (int i = 0; i < segmentCount_; ++i) {
                segments_[i] = kept[static_cast<std::size_t>(i)];
                if (i > 0) fullPath_ += L'\\';
                fullPath_ += segments_[i];
            }
            if (path.back() == L'\\') fullPath_ += L'\\';
        }
    }
    if (fullPath_.size() > static_cast<std::size_t>(kFullPathSize - 1)) {
        fullPath_.resize(kFullPathSize - 1);
    }

    wchar_t drive[kDriveSize] = {};
    wchar_t directory[kPartSize] = {};
    wchar_t fileName[kPartSize] = {};
    wchar_t extension[kPartSize] = {};
    // A part too long for its buffer leaves all parts empty; the caller then
    // sees no file name, which is never the agent's.
    if (_wsplitpath_s(fullPath_.c_str(), drive, kDriveSize, directory, kPartSize, fileName, kPartSize,
                      extension, kPartSize) == 0) {
        drive_ = drive;
        directory_ = directory;
        fileName_ = fileName;
        extension_ = extension;
    }
}

}  // namespace qv::agent
