// Text: UTF-8 <-> wchar_t conversion and the wsprintf formatter.
//
// Only code-page conversion and wsprintfA/wsprintfW live here. The ANSI code
// page of a Linux process is UTF-8, and wchar_t holds UTF-32.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>

#include "posix_internal.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character. On an ill-formed sequence returns U+FFFD and consumes
// its maximal valid prefix (at least one byte), the replacement practice of
// Windows and of the Unicode standard.
char32_t DecodeUtf8(const unsigned char* text, std::size_t available, std::size_t* used,
                    bool* valid) {
    const unsigned char lead = text[0];
    *valid = true;
    *used = 1;
    if (lead < 0x80) return lead;
    std::size_t continuation = 0;
    unsigned char lowest = 0x80;
    unsigned char highest = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) lowest = 0xA0;   // overlong
        if (lead == 0xED) highest = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
        value = lead & 0x07;
        if (lead == 0xF0) lowest = 0x90;   // overlong
        if (lead == 0xF4) highest = 0x8F;  // above U+10FFFF
    } else {
        *valid = false;
        return kReplacement;
    }
    for (std::size_t i = 1; i <= continuation; ++i) {
        const unsigned char low = i == 1 ? lowest : 0x80;
        const unsigned char high = i == 1 ? highest : 0xBF;
        if (i >= available || text[i] < low || text[i] > high) {
            *used = i;
            *valid = false;
            return kReplacement;
        }
        value = (value << 6) | (text[i] & 0x3F);
    }
    *used = continuation + 1;
    return value;
}

bool IsScalarValue(std::uint32_t value) {
    return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

// Appends the UTF-8 form of one wchar_t; lone surrogates and values beyond
// Unicode become U+FFFD.
bool EncodeUtf8(wchar_t character, std::string* out) {
    auto value = static_cast<std::uint32_t>(character);
    const bool valid = IsScalarValue(value);
    if (!valid) value = kReplacement;
    if (value < 0x80) {
        out->push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (value >> 6)));
        out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (value >> 12)));
        out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (value >> 18)));
        out->push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
    return valid;
}

bool DecodeAll(std::string_view text, std::wstring* out) {
    bool allValid = true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t used = 0;
        bool valid = true;
        out->push_back(static_cast<wchar_t>(
            DecodeUtf8(bytes + position, text.size() - position, &used, &valid)));
        allValid = allValid && valid;
        position += used;
    }
    return allValid;
}

bool EncodeAll(std::wstring_view wide, std::string* out) {
    bool allValid = true;
    for (const wchar_t character : wide) {
        allValid = EncodeUtf8(character, out) && allValid;
    }
    return allValid;
}

bool IsSupportedCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_UTF8;
}

}  // namespace

namespace qv::posix {

std::string Utf8FromWide(std::wstring_view wide) {
    std::string out;
    EncodeAll(wide, &out);
    return out;
}

std::wstring WideFromUtf8(std::string_view text) {
    std::wstring out;
    DecodeAll(text, &out);
    return out;
}

// Both directions: argument checks, the conversion itself and the copy out.
// `strictFlag` is the one flag each direction knows (fail on what cannot be
// converted instead of substituting U+FFFD). An output size of 0 asks for the
// size needed; a length of -1 means a terminated input whose terminator is
// converted too.
template <typename From, typename To, typename Converter>
int ConvertText(UINT codePage, DWORD flags, DWORD strictFlag, const From* in, int inLength, To* out,
                int outLength, Converter convert) {
    if (!IsSupportedCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~strictFlag) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (in == nullptr || inLength == 0 || inLength < -1 || outLength < 0 ||
        (out == nullptr && outLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = inLength == -1 ? std::char_traits<From>::length(in) + 1
                                              : static_cast<std::size_t>(inLength);
    std::basic_string<To> converted;
    const bool valid = convert(std::basic_string_view<From>(in, length), &converted);
    if (!valid && (flags & strictFlag) != 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (outLength == 0) return static_cast<int>(converted.size());
    if (converted.size() > static_cast<std::size_t>(outLength)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(converted.begin(), converted.end(), out);
    return static_cast<int>(converted.size());
}

}  // namespace qv::posix

extern "C" QV_PLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text,
                                                   int textLength, LPWSTR wide, int wideLength) {
    return qv::posix::ConvertText(codePage, flags, MB_ERR_INVALID_CHARS, text, textLength, wide,
                                  wideLength, DecodeAll);
}

extern "C" QV_PLATFORM_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide,
                                                   int wideLength, LPSTR text, int textLength,
                                                   LPCSTR defaultChar, BOOL* usedDefaultChar) {
    // UTF-8 maps every character, so Windows refuses a default character for
    // CP_UTF8. The ANSI page accepts one, and never needs it here.
    if (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int written = qv::posix::ConvertText(codePage, flags, WC_ERR_INVALID_CHARS, wide,
                                               wideLength, text, textLength, EncodeAll);
    if (written != 0 && usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
    return written;
}

// ---- wsprintf ------------------------------------------------------------------------
// The subset Windows' wsprintf knows: flags '-', '#', '0', a width, a
// precision, the size prefixes h, l, ll, I32, I64 and w, and the types c, C,
// d, i, u, x, X, s, S and %. No floating point and no '*'. Argument sizes
// follow this platform's printf (the declaration is checked as printf), so
// 'l' reads a 64-bit long. An unknown type is copied to the output as is.

namespace {

// wsprintf never writes more than 1024 characters, terminator included.
constexpr std::size_t kFormatLimit = 1024;

struct Arguments {
    va_list list;
};

template <typename Char>
class BoundedOutput {
public:
    explicit BoundedOutput(Char* buffer) : buffer_(buffer) {}

    void Put(Char character) {
        if (full_ || count_ + 1 >= kFormatLimit) {
            full_ = true;
            return;
        }
        buffer_[count_++] = character;
    }
    // A wide character in narrow output: all of its UTF-8 bytes or none.
    void PutWide(wchar_t character) {
        if constexpr (sizeof(Char) == 1) {
            std::string bytes;
            EncodeUtf8(character, &bytes);
            if (count_ + bytes.size() + 1 > kFormatLimit) {
                full_ = true;  // nothing after a character that did not fit
                return;
            }
            for (const char byte : bytes) Put(byte);
        } else {
            Put(character);
        }
    }
    int Finish() {
        buffer_[count_] = Char(0);
        return static_cast<int>(count_);
    }

private:
    Char* buffer_;
    std::size_t count_ = 0;
    bool full_ = false;
};

struct Conversion {
    bool leftAlign = false;
    bool alternate = false;
    bool zeroPad = false;
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    enum class Size { Default, Short, Long, LongLong, Int32, Int64, Wide } size = Size::Default;
};

template <typename Char>
void Pad(BoundedOutput<Char>& out, std::size_t count, Char fill) {
    for (std::size_t i = 0; i < count; ++i) out.Put(fill);
}

template <typename Char>
void PutInteger(BoundedOutput<Char>& out, const Conversion& conversion, std::uint64_t magnitude,
                bool negative, unsigned base, bool upper) {
    char digits[24];
    std::size_t count = 0;
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (magnitude != 0) {
        digits[count++] = alphabet[magnitude % base];
        magnitude /= base;
    }
    const std::size_t minimumDigits = conversion.hasPrecision ? conversion.precision : 1;
    const std::size_t zeros = minimumDigits > count ? minimumDigits - count : 0;
    std::string prefix;
    if (negative) prefix = "-";
    if (conversion.alternate && base == 16 && count != 0) prefix += upper ? "0X" : "0x";
    const std::size_t body = prefix.size() + zeros + count;
    const std::size_t padding = conversion.width > body ? conversion.width - body : 0;
    const bool padWithZeros = conversion.zeroPad && !conversion.leftAlign && !conversion.hasPrecision;
    if (!conversion.leftAlign && !padWithZeros) Pad(out, padding, Char(' '));
    for (const char c : prefix) out.Put(Char(c));
    if (padWithZeros) Pad(out, padding, Char('0'));
    Pad(out, zeros, Char('0'));
    while (count > 0) out.Put(Char(digits[--count]));
    if (conversion.leftAlign) Pad(out, padding, Char(' '));
}

// Text in a field: cut to the precision, padded with spaces to the width.
// Narrow text into a narrow output goes byte for byte, each byte counted as a
// character; into a wide output it is decoded first.
template <typename Char, typename TextChar>
void PutText(BoundedOutput<Char>& out, const Conversion& conversion,
             std::basic_string_view<TextChar> text) {
    if constexpr (sizeof(Char) != 1 && sizeof(TextChar) == 1) {
        const std::wstring wide = qv::posix::WideFromUtf8(text);
        PutText(out, conversion, std::wstring_view(wide));
    } else {
        std::size_t length = text.size();
        if (conversion.hasPrecision && conversion.precision < length) length = conversion.precision;
        const std::size_t padding = conversion.width > length ? conversion.width - length : 0;
        if (!conversion.leftAlign) Pad(out, padding, Char(' '));
        for (std::size_t i = 0; i < length; ++i) {
            if constexpr (sizeof(TextChar) == 1) {
                out.Put(text[i]);
            } else {
                out.PutWide(text[i]);
            }
        }
        if (conversion.leftAlign) Pad(out, padding, Char(' '));
    }
}

// Whether a %c or %s argument is narrow: 'h' makes it narrow, 'l' and 'w'
// wide; without a prefix the lower-case type is the function's own kind
// (narrow in wsprintfA) and the upper-case type the other one.
template <typename Char>
bool IsNarrow(const Conversion& conversion, bool lowerCase) {
    if (conversion.size == Conversion::Size::Short) return true;
    if (conversion.size == Conversion::Size::Long || conversion.size == Conversion::Size::Wide) {
        return false;
    }
    return lowerCase == (sizeof(Char) == 1);
}

template <typename Char>
int Format(Char* buffer, const Char* format, Arguments& arguments) {
    BoundedOutput<Char> out(buffer);
    const Char* p = format;
    while (*p != Char(0)) {
        if (*p != Char('%')) {
            out.Put(*p++);
            continue;
        }
        ++p;
        Conversion conversion;
        for (;; ++p) {
            if (*p == Char('-')) {
                conversion.leftAlign = true;
            } else if (*p == Char('#')) {
                conversion.alternate = true;
            } else if (*p == Char('0')) {
                conversion.zeroPad = true;
            } else {
                break;
            }
        }
        while (*p >= Char('0') && *p <= Char('9')) {
            conversion.width = conversion.width * 10 + static_cast<std::size_t>(*p++ - Char('0'));
        }
        if (*p == Char('.')) {
            ++p;
            conversion.hasPrecision = true;
            while (*p >= Char('0') && *p <= Char('9')) {
                conversion.precision = conversion.precision * 10 + static_cast<std::size_t>(*p++ - Char('0'));
            }
        }
        using Size = Conversion::Size;
        if (*p == Char('h')) {
            conversion.size = Size::Short;
            ++p;
        } else if (*p == Char('l')) {
            ++p;
            conversion.size = Size::Long;
            if (*p == Char('l')) {
                conversion.size = Size::LongLong;
                ++p;
            }
        } else if (*p == Char('w')) {
            conversion.size = Size::Wide;
            ++p;
        } else if (*p == Char('I') && p[1] == Char('6') && p[2] == Char('4')) {
            conversion.size = Size::Int64;
            p += 3;
        } else if (*p == Char('I') && p[1] == Char('3') && p[2] == Char('2')) {
            conversion.size = Size::Int32;
            p += 3;
        }
        const Char type = *p;
        if (type == Char(0)) break;
        ++p;
        switch (static_cast<char32_t>(type)) {
            case U'%':
                out.Put(Char('%'));
                break;
            case U'd':
            case U'i': {
                std::int64_t value = 0;
                switch (conversion.size) {
                    case Size::Long: value = va_arg(arguments.list, long); break;
                    case Size::LongLong:
                    case Size::Int64: value = va_arg(arguments.list, long long); break;
                    case Size::Short: value = static_cast<short>(va_arg(arguments.list, int)); break;
                    default: value = va_arg(arguments.list, int); break;
                }
                const bool negative = value < 0;
                const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                                         : static_cast<std::uint64_t>(value);
                PutInteger(out, conversion, magnitude, negative, 10, false);
                break;
            }
            case U'u':
            case U'x':
            case U'X': {
                std::uint64_t value = 0;
                switch (conversion.size) {
                    case Size::Long: value = va_arg(arguments.list, unsigned long); break;
                    case Size::LongLong:
                    case Size::Int64: value = va_arg(arguments.list, unsigned long long); break;
                    case Size::Short:
                        value = static_cast<unsigned short>(va_arg(arguments.list, unsigned));
                        break;
                    default: value = va_arg(arguments.list, unsigned); break;
                }
                PutInteger(out, conversion, value, false, type == Char('u') ? 10 : 16, type == Char('X'));
                break;
            }
            case U'c':
            case U'C': {
                wchar_t character = 0;
                if (IsNarrow<Char>(conversion, type == Char('c'))) {
                    const auto byte = static_cast<char>(va_arg(arguments.list, int));
                    if constexpr (sizeof(Char) == 1) {
                        PutText(out, conversion, std::string_view(&byte, 1));
                        break;
                    }
                    character = static_cast<wchar_t>(static_cast<unsigned char>(byte));
                } else {
                    character = static_cast<wchar_t>(va_arg(arguments.list, wint_t));
                }
                PutText(out, conversion, std::wstring_view(&character, 1));
                break;
            }
            case U's':
            case U'S': {
                if (IsNarrow<Char>(conversion, type == Char('s'))) {
                    const char* text = va_arg(arguments.list, const char*);
                    PutText(out, conversion, std::string_view(text != nullptr ? text : "(null)"));
                } else {
                    const wchar_t* text = va_arg(arguments.list, const wchar_t*);
                    PutText(out, conversion, std::wstring_view(text != nullptr ? text : L"(null)"));
                }
                break;
            }
            default:
                out.Put(type);
                break;
        }
    }
    return out.Finish();
}

}  // namespace

extern "C" QV_PLATFORM_API int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    if (buffer == nullptr || format == nullptr) return 0;
    Arguments arguments;
    va_start(arguments.list, format);
    const int written = Format(buffer, format, arguments);
    va_end(arguments.list);
    return written;
}

extern "C" QV_PLATFORM_API int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (buffer == nullptr || format == nullptr) return 0;
    Arguments arguments;
    va_start(arguments.list, format);
    const int written = Format(buffer, format, arguments);
    va_end(arguments.list);
    return written;
}
