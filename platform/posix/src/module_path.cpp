// Module file names and the CRT path splitter.
//
// Only GetModuleFileNameW and _wsplitpath_s live here.
#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "posix_internal.h"

namespace {

std::string ExecutablePath() {
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0) return std::string();
    path.resize(static_cast<std::size_t>(length));
    return path;
}

// The Linux file of the loaded object that contains `address`; the main
// program's link map has an empty name.
std::string ModulePath(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
        return std::string();
    }
    if (map->l_name == nullptr || map->l_name[0] == '\0') return ExecutablePath();
    if (map->l_name[0] == '/') return map->l_name;
    // Loaded by a relative name: Windows always reports a full path.
    char resolved[PATH_MAX];
    if (::realpath(map->l_name, resolved) == nullptr) return map->l_name;
    return resolved;
}

}  // namespace

// The Linux path is presented the way Windows compatibility layers show the
// Linux root: as drive Z:, with backslashes.
extern "C" QV_PLATFORM_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    const std::string path = module == nullptr ? ExecutablePath() : ModulePath(module);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::wstring windowsPath = L"Z:" + qv::posix::WideFromUtf8(path);
    for (wchar_t& c : windowsPath) {
        if (c == L'/') c = L'\\';
    }
    if (buffer == nullptr && size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = windowsPath.size();
    if (length < size) {
        std::wmemcpy(buffer, windowsPath.data(), length);
        buffer[length] = L'\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(length);
    }
    // Too small: as much as fits, always terminated, and the buffer's size.
    if (size > 0) {
        std::wmemcpy(buffer, windowsPath.data(), size - 1);
        buffer[size - 1] = L'\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

namespace {

struct PathPart {
    wchar_t* buffer;
    std::size_t size;
};

void EmptyAll(const PathPart (&parts)[4]) {
    for (const PathPart& part : parts) {
        if (part.buffer != nullptr && part.size > 0) part.buffer[0] = L'\0';
    }
}

}  // namespace

extern "C" QV_PLATFORM_API errno_t _wsplitpath_s(const wchar_t* path, wchar_t* drive,
                                                 std::size_t driveSize, wchar_t* dir,
                                                 std::size_t dirSize, wchar_t* fname,
                                                 std::size_t fnameSize, wchar_t* ext,
                                                 std::size_t extSize) {
    const PathPart parts[4] = {{drive, driveSize}, {dir, dirSize}, {fname, fnameSize},
                               {ext, extSize}};
    bool consistent = path != nullptr;
    for (const PathPart& part : parts) {
        // A buffer without a size, or a size without a buffer, is a caller bug.
        if ((part.buffer == nullptr) != (part.size == 0)) consistent = false;
    }
    if (!consistent) {
        EmptyAll(parts);
        errno = EINVAL;
        return EINVAL;
    }

    const std::wstring_view whole(path);
    std::wstring_view pieces[4];
    std::wstring_view rest = whole;
    if (rest.size() >= 2 && rest[1] == L':') {
        pieces[0] = rest.substr(0, 2);
        rest.remove_prefix(2);
    }
    const std::size_t lastSeparator = rest.find_last_of(L"\\/");
    const std::size_t nameStart = lastSeparator == std::wstring_view::npos ? 0 : lastSeparator + 1;
    pieces[1] = rest.substr(0, nameStart);
    const std::wstring_view name = rest.substr(nameStart);
    const std::size_t dot = name.find_last_of(L'.');
    pieces[2] = dot == std::wstring_view::npos ? name : name.substr(0, dot);
    pieces[3] = dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);

    for (int i = 0; i < 4; ++i) {
        if (parts[i].buffer != nullptr && pieces[i].size() >= parts[i].size) {
            EmptyAll(parts);
            errno = ERANGE;
            return ERANGE;
        }
    }
    for (int i = 0; i < 4; ++i) {
        if (parts[i].buffer == nullptr) continue;
        std::wmemcpy(parts[i].buffer, pieces[i].data(), pieces[i].size());
        parts[i].buffer[pieces[i].size()] = L'\0';
    }
    return 0;
}
