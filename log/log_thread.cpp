#include "log/log_thread.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>

#include "log/snmp_log.h"

// The file holds UTF-16 units in memory order; both targets are little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// Line buffer in UTF-16 units, including the terminating zero.
constexpr std::size_t kLineBufferUnits = 1024;

constexpr wchar_t kFallbackLogPath[] = L"C:\\QFLOG.txt";

const wchar_t* PrefixOf(int code) {
    switch (code) {
    case LOG_CODE_INFO:
        return L"INFO : ";
    case LOG_CODE_WARN:
        return L"WARN : ";
    case LOG_CODE_ALARM:
        return L"ALAR : ";
    default:
        return nullptr;
    }
}

// Local time of now as "%Y-%m-%d %H:%M:%S".
CString TimeText() {
    const __time64_t now = _time64(nullptr);
    std::tm local{};
    char text[32] = "";
    if (_localtime64_s(&local, &now) == 0) {
        std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    }
    return CString(text);
}

// Encodes `text` followed by CR LF as UTF-16 into `out`, which holds
// `capacity` units, and returns the number of units used.
//
// Cut rule for a line that does not fit: whole UTF-16 code units are kept from
// the start for as long as they fit; a surrogate pair is kept whole or not at
// all, so the file never holds half a character. The CR LF goes with the cut
// part (the next line then continues on the same line of the file, which
// shows where the cut happened).
//
// wchar_t is UTF-16 on Windows and UTF-32 on Linux; the file is UTF-16 on both.
std::size_t EncodeLine(const CString& text, char16_t* out, std::size_t capacity) {
    const wchar_t* units = text;
    const std::size_t length = static_cast<std::size_t>(text.GetLength());
    std::size_t used = 0;
    for (std::size_t i = 0; i < length; ++i) {
        char16_t group[2];
        std::size_t groupLength = 1;
        if constexpr (sizeof(wchar_t) == 2) {
            group[0] = static_cast<char16_t>(units[i]);
            const bool high = group[0] >= 0xD800 && group[0] <= 0xDBFF;
            if (high && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
                group[1] = static_cast<char16_t>(units[i + 1]);
                groupLength = 2;
                ++i;
            }
        } else {
            const auto codePoint = static_cast<std::uint32_t>(units[i]);
            if (codePoint > 0x10FFFF) {
                group[0] = u'\uFFFD';  // not a character in any encoding
            } else if (codePoint > 0xFFFF) {
                group[0] = static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
                group[1] = static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
                groupLength = 2;
            } else {
                group[0] = static_cast<char16_t>(codePoint);
            }
        }
        if (used + groupLength > capacity) {
            return used;
        }
        for (std::size_t k = 0; k < groupLength; ++k) {
            out[used++] = group[k];
        }
    }
    for (char16_t lineEnd : {u'\r', u'\n'}) {
        if (used == capacity) {
            break;
        }
        out[used++] = lineEnd;
    }
    return used;
}

}  // namespace

IMPLEMENT_DYNCREATE(CLogThread, CWinThread)

BEGIN_MESSAGE_MAP(CLogThread, CWinThread)
END_MESSAGE_MAP()

CLogThread::CLogThread() = default;

CLogThread::~CLogThread() = default;

BOOL CLogThread::InitInstance() {
    m_hFile = INVALID_HANDLE_VALUE;
    InitializeCriticalSection(&m_csFile);
    return TRUE;
}

void CLogThread::StartLog() {
    EnterCriticalSection(&m_csFile);
    if (m_hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
    m_hFile = CreateFileW(m_strFileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile != INVALID_HANDLE_VALUE) {
        // Earlier runs' lines stay: the file is only ever appended to.
        SetFilePointer(m_hFile, 0, nullptr, FILE_END);
        WriteLine(TimeText() + L" INFO : QVSNMP File Logging started");
    }
    LeaveCriticalSection(&m_csFile);
}

void CLogThread::StopLog() {
    // Compared with null, not INVALID_HANDLE_VALUE: after a stop the handle is
    // INVALID_HANDLE_VALUE, so a second stop reaches WriteLine, which drops the
    // line because no file is open.
    if (m_hFile != nullptr) {
        WriteLine(TimeText() + L" INFO : File Logging stopped");
        EnterCriticalSection(&m_csFile);
        if (m_hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(m_hFile);
            m_hFile = INVALID_HANDLE_VALUE;
        }
        LeaveCriticalSection(&m_csFile);
    }
}

void CLogThread::LogMessage(CString message, int code) {
    const wchar_t* prefix = PrefixOf(code);
    if (prefix == nullptr) {
        return;
    }
    WriteLine(TimeText() + L" " + prefix + message + L"\n");
}

void CLogThread::WriteLine(CString line) {
    EnterCriticalSection(&m_csFile);
    if (m_hFile != INVALID_HANDLE_VALUE) {
        const std::unique_ptr<char16_t[]> buffer(new char16_t[kLineBufferUnits]);
        const std::size_t units = EncodeLine(line, buffer.get(), kLineBufferUnits - 1);
        buffer[units] = u'\0';
        DWORD written = 0;
        // A failed write loses this line only; the next line is tried as usual.
        WriteFile(m_hFile, buffer.get(), static_cast<DWORD>(units * sizeof(char16_t)), &written,
                  nullptr);
        FlushFileBuffers(m_hFile);
    }
    LeaveCriticalSection(&m_csFile);
}

BOOL CLogThread::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_COMMAND && pMsg->lParam != 0) {
        const int code = static_cast<int>(pMsg->wParam);
        auto* text = reinterpret_cast<CString*>(pMsg->lParam);
        if (PrefixOf(code) != nullptr) {
            LogMessage(*text, code);
            delete text;
        } else if (code == LOG_CODE_SET_FILE) {
            m_strFileName = *text;
            delete text;
            if (m_strFileName.IsEmpty()) {
                m_strFileName = kFallbackLogPath;
            }
            StartLog();
        }
    }
    return CWinThread::PreTranslateMessage(pMsg);
}

int CLogThread::ExitInstance() {
    StopLog();
    DeleteCriticalSection(&m_csFile);
    return CWinThread::ExitInstance();
}
