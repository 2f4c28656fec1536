// CString: a wide string that also accepts narrow text.
#include "qv_afx.h"

#include <cstring>

namespace {

// Narrow text is in the ANSI code page; the conversion is the platform's, so
// that a name read from the system and one typed in the source agree.
std::wstring Widen(const char* text) {
    if (text == nullptr || *text == '\0') {
        return {};
    }
    const int length = static_cast<int>(std::strlen(text));
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return wide;
}

}  // namespace

CString::CString(const wchar_t* text) : text_(text != nullptr ? text : L"") {}

CString::CString(const char* text) : text_(Widen(text)) {}

CString::CString(const wchar_t* text, int length) {
    if (text != nullptr && length > 0) {
        text_.assign(text, static_cast<std::size_t>(length));
    }
}

CString& CString::operator=(const wchar_t* text) {
    text_ = text != nullptr ? text : L"";
    return *this;
}

CString& CString::operator=(const char* text) {
    text_ = Widen(text);
    return *this;
}

CString& CString::operator+=(const CString& other) {
    text_ += other.text_;
    return *this;
}

CString& CString::operator+=(const wchar_t* text) {
    if (text != nullptr) {
        text_ += text;
    }
    return *this;
}

CString& CString::operator+=(wchar_t character) {
    text_ += character;
    return *this;
}

CString operator+(const CString& left, const CString& right) {
    CString result(left);
    result += right;
    return result;
}

CString operator+(const CString& left, const wchar_t* right) {
    CString result(left);
    result += right;
    return result;
}

CString operator+(const wchar_t* left, const CString& right) {
    CString result(left);
    result += right;
    return result;
}

bool operator==(const CString& left, const wchar_t* right) {
    return left.text_ == (right != nullptr ? right : L"");
}
