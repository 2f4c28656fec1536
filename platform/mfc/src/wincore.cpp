// Run-time classes, message maps, CWinThread's run loop and the list of
// extension modules.
#include "qv_afx.h"

#include <mutex>

// ---- CRuntimeClass / CObject --------------------------------------------------------

CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF,
                                       nullptr, nullptr};

CRuntimeClass* CObject::GetRuntimeClass() const {
    return RUNTIME_CLASS(CObject);
}

BOOL CObject::IsKindOf(const CRuntimeClass* runtimeClass) const {
    return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
}

CObject* CRuntimeClass::CreateObject() const {
    if (m_pfnCreateObject == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return m_pfnCreateObject();
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* current = this; current != nullptr; current = current->m_pBaseClass) {
        if (current == base) {
            return TRUE;
        }
    }
    return FALSE;
}

// ---- CCmdTarget -----------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

// ---- CWinThread -----------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

BEGIN_MESSAGE_MAP(CWinThread, CCmdTarget)
END_MESSAGE_MAP()

CWinThread::CWinThread() = default;

CWinThread::~CWinThread() {
    if (m_hThread != nullptr) {
        CloseHandle(m_hThread);
    }
}

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize,
                              LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (dwCreateFlags != 0 || m_hThread != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    startedEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (startedEvent_ == nullptr) {
        return FALSE;
    }
    // Once the thread runs, it may end and (auto-delete) destroy this object
    // at any time: it starts suspended so that the members are set first, and
    // afterwards only locals are used.
    HANDLE started = startedEvent_;
    DWORD threadId = 0;
    HANDLE thread = ::CreateThread(lpSecurityAttrs, nStackSize, &CWinThread::ThreadEntry, this,
                                   CREATE_SUSPENDED, &threadId);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        CloseHandle(started);
        startedEvent_ = nullptr;
        SetLastError(error);
        return FALSE;
    }
    m_hThread = thread;
    m_nThreadID = threadId;
    ResumeThread(thread);
    // Posting to a thread fails until it has a message queue; callers expect to
    // post right after this returns, so wait until the queue exists.
    WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    return TRUE;
}

DWORD WINAPI CWinThread::ThreadEntry(LPVOID parameter) {
    auto* thread = static_cast<CWinThread*>(parameter);
    MSG probe;
    PeekMessageW(&probe, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    HANDLE started = thread->startedEvent_;
    thread->startedEvent_ = nullptr;
    SetEvent(started);

    int exitCode = 0;
    if (thread->InitInstance()) {
        exitCode = thread->Run();
    } else {
        exitCode = thread->ExitInstance();
    }
    if (thread->m_bAutoDelete) {
        delete thread;
    }
    return static_cast<DWORD>(exitCode);
}

int CWinThread::Run() {
    for (;;) {
        const BOOL got = GetMessageW(&m_msgCur, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;  // WM_QUIT, or no queue to read any more
        }
        // A thread without windows has nothing to dispatch to: what
        // PreTranslateMessage does not handle is dropped.
        PreTranslateMessage(&m_msgCur);
    }
    return ExitInstance();
}

BOOL CWinThread::InitInstance() {
    return FALSE;
}

BOOL CWinThread::PreTranslateMessage(MSG* /*pMsg*/) {
    return FALSE;
}

int CWinThread::ExitInstance() {
    // The exit code posted with WM_QUIT.
    return static_cast<int>(m_msgCur.wParam);
}

// ---- extension modules -------------------------------------------------------------

namespace {

struct DynLinkList {
    std::recursive_mutex lock;  // recursive: deleting an entry unlinks it under the lock
    CDynLinkLibrary* head = nullptr;
};

DynLinkList& Libraries() {
    static DynLinkList list;
    return list;
}

}  // namespace

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CCmdTarget)

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem) {
    DynLinkList& list = Libraries();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    m_pNextDLL = list.head;
    list.head = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    DynLinkList& list = Libraries();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    for (CDynLinkLibrary** link = &list.head; *link != nullptr; link = &(*link)->m_pNextDLL) {
        if (*link == this) {
            *link = m_pNextDLL;
            break;
        }
    }
}

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
    if (state.bInitialized) {
        return TRUE;
    }
    if (hModule == nullptr) {
        return FALSE;
    }
    state.hModule = hModule;
    state.hResource = hModule;
    state.bInitialized = TRUE;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll) {
    if (!state.bInitialized) {
        return;
    }
    DynLinkList& list = Libraries();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    CDynLinkLibrary* entry = list.head;
    while (entry != nullptr) {
        CDynLinkLibrary* next = entry->m_pNextDLL;
        if (bAll || entry->m_hModule == state.hModule) {
            delete entry;
        }
        entry = next;
    }
}

CDynLinkLibrary* AfxGetFirstDynLinkLibrary() {
    DynLinkList& list = Libraries();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    return list.head;
}
