// The MFC pieces the module is built on: CString, the CObject / CCmdTarget /
// CWinThread hierarchy with run-time classes and message maps, and the
// extension-module registration of a DLL.
//
// Written over the Win32 names only, so the same code serves the mingw-w64
// and the Linux builds. It is the least the module needs, with MFC's
// behaviour where it has any: a CWinThread really runs its message loop, and
// a CDynLinkLibrary really sits in the process-wide list until its module is
// terminated.
#pragma once

#include <cstdint>
#include <string>

#include "qv_windows.h"

// ---- CString ----------------------------------------------------------------------
// A wide string. Narrow text is converted from the ANSI code page, as a
// Unicode MFC build does.
class CString {
public:
    CString() = default;
    CString(const wchar_t* text);  // NOLINT: implicit, as in MFC
    CString(const char* text);     // NOLINT: implicit, as in MFC
    CString(const wchar_t* text, int length);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    ~CString() = default;

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const wchar_t* text);
    CString& operator=(const char* text);

    int GetLength() const { return static_cast<int>(text_.size()); }
    BOOL IsEmpty() const { return text_.empty() ? TRUE : FALSE; }
    void Empty() { text_.clear(); }
    wchar_t GetAt(int index) const { return text_[static_cast<std::size_t>(index)]; }
    LPCWSTR GetString() const { return text_.c_str(); }
    operator LPCWSTR() const { return text_.c_str(); }  // NOLINT: implicit, as in MFC

    CString& operator+=(const CString& other);
    CString& operator+=(const wchar_t* text);
    CString& operator+=(wchar_t character);

    friend CString operator+(const CString& left, const CString& right);
    friend CString operator+(const CString& left, const wchar_t* right);
    friend CString operator+(const wchar_t* left, const CString& right);
    friend bool operator==(const CString& left, const CString& right) {
        return left.text_ == right.text_;
    }
    friend bool operator==(const CString& left, const wchar_t* right);

private:
    std::wstring text_;
};

// ---- run-time classes ------------------------------------------------------------
class CObject;

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();  // null for classes that cannot be created dynamically
    CRuntimeClass* m_pBaseClass;

    CObject* CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)              \
public:                                          \
    static CRuntimeClass class##class_name;      \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* CreateObject();

#define IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, create)                          \
    CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class_name)),    \
                                                   0xFFFF, create, RUNTIME_CLASS(base_class_name)}; \
    CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)             \
    CObject* class_name::CreateObject() { return new class_name; } \
    IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, class_name::CreateObject)

class CObject {
public:
    static CRuntimeClass classCObject;

    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;

    BOOL IsKindOf(const CRuntimeClass* runtimeClass) const;

    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

protected:
    CObject() = default;
};

// ---- message maps -----------------------------------------------------------------
// Entries are kept for the shape of a map; the module's maps are empty and
// nothing dispatches through them.
class CCmdTarget;
using AFX_PMSG = void (CCmdTarget::*)();

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    std::uintptr_t nSig;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                    \
protected:                                       \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                  \
        using TheBaseClass = baseClass;                                                \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {
#define END_MESSAGE_MAP()                                                                \
    {0, 0, 0, 0, 0, nullptr}};                                                           \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &messageEntries[0]}; \
    return &messageMap;                                                                  \
    }

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget() = default;
    ~CCmdTarget() override = default;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// ---- CWinThread ---------------------------------------------------------------------
// A thread with a message queue. CreateThread() starts it: InitInstance, then
// every message to PreTranslateMessage until WM_QUIT, then ExitInstance, whose
// result is the thread's exit code. When InitInstance returns FALSE the loop is
// skipped. With m_bAutoDelete (the default) the object deletes itself when the
// thread ends.
class CWinThread : public CCmdTarget {
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread();
    ~CWinThread() override;

    // Returns once the thread runs and can receive posted messages. Only
    // dwCreateFlags 0 is supported (no CREATE_SUSPENDED).
    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0,
                      LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

    virtual BOOL InitInstance();
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual int ExitInstance();

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    MSG m_msgCur{};

    DECLARE_MESSAGE_MAP()

private:
    static DWORD WINAPI ThreadEntry(LPVOID parameter);
    int Run();

    HANDLE startedEvent_ = nullptr;
};

// ---- extension modules --------------------------------------------------------------
struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
};

// One entry of the process-wide list of extension modules in use. Creating it
// links it in; AfxTermExtensionModule of its module deletes it, which unlinks it.
class CDynLinkLibrary : public CCmdTarget {
    DECLARE_DYNAMIC(CDynLinkLibrary)
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
    ~CDynLinkLibrary() override;

    HMODULE m_hModule;
    HMODULE m_hResource;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL = nullptr;
};

// Records the module handle; FALSE for a null handle. A second call for a
// module already initialised changes nothing and returns TRUE.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
// Deletes the CDynLinkLibrary entries of the module (of every module with bAll).
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// The head of the process-wide list, newest entry first (for inspection; the
// list changes only through the calls above).
CDynLinkLibrary* AfxGetFirstDynLinkLibrary();
