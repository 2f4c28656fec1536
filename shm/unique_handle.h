// Move-only owners of kernel handles and mapped views, so that no failure
// exit leaks one. Where a handle or view must outlive its function, its owner
// is named in a comment at the place that keeps it.
#pragma once

#include <utility>

#include "qv_windows.h"

namespace qv::shm {

struct MappingHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

template <typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::Invalid(); }
    HANDLE Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Reset() {
        if (handle_ != Traits::Invalid()) Traits::Close(std::exchange(handle_, Traits::Invalid()));
    }

private:
    HANDLE handle_ = Traits::Invalid();
};

using UniqueMappingHandle = UniqueHandle<MappingHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

class UniqueView {
public:
    UniqueView() = default;
    explicit UniqueView(void* view) : view_(view) {}
    ~UniqueView() { Reset(); }
    UniqueView(UniqueView&& other) noexcept : view_(other.Release()) {}
    UniqueView& operator=(UniqueView&& other) noexcept {
        if (this != &other) {
            Reset();
            view_ = other.Release();
        }
        return *this;
    }
    UniqueView(const UniqueView&) = delete;
    UniqueView& operator=(const UniqueView&) = delete;

    void* Get() const { return view_; }
    explicit operator bool() const { return view_ != nullptr; }
    void* Release() { return std::exchange(view_, nullptr); }
    void Reset() {
        if (view_ != nullptr) ::UnmapViewOfFile(std::exchange(view_, nullptr));
    }

private:
    void* view_ = nullptr;
};

// A view of a named region that exists, with its handle: opened and mapped
// with `access` (FILE_MAP_READ or FILE_MAP_WRITE); empty when the region does
// not exist or cannot be mapped. The view goes before the handle.
class NamedView {
public:
    NamedView() = default;
    NamedView(const char* name, DWORD access) : mapping_(::OpenFileMappingA(access, FALSE, name)) {
        if (mapping_) view_ = UniqueView(::MapViewOfFile(mapping_.Get(), access, 0, 0, 0));
    }

    void* Get() const { return view_.Get(); }

private:
    UniqueMappingHandle mapping_;
    UniqueView view_;
};

}  // namespace qv::shm
