// The log object: one UTF-16 log file written line by line.
#pragma once

#include "qv_afx.h"
#include "qv_windows.h"

// Derived from CWinThread for its posted-command interface, but the module
// never runs it as a thread: module attach calls InitInstance and StartLog
// directly and every line is written on the caller's thread.
//
// InitInstance must run before any other member is used: the constructor
// leaves m_hFile and m_csFile alone, and the destructor neither closes the
// file nor deletes m_csFile (StopLog and ExitInstance do).
class CLogThread : public CWinThread {
    DECLARE_DYNCREATE(CLogThread)
public:
    CLogThread();
    ~CLogThread() override;

    BOOL InitInstance() override;
    // (Re)opens m_strFileName for appending and writes the start line.
    void StartLog();
    // Writes the stop line and closes the file.
    void StopLog();
    // A time-stamped line for codes 1241 to 1243; other codes are dropped.
    // Callers hold g_LogCriticalSection.
    void LogMessage(CString message, int code);
    // Appends the line and CR LF to the open file and flushes it.
    void WriteLine(CString line);
    // Thread messages WM_COMMAND with a log code in wParam and a heap CString*
    // in lParam, which is deleted here when the code is handled.
    BOOL PreTranslateMessage(MSG* pMsg) override;
    int ExitInstance() override;

    CString m_strFileName;
    HANDLE m_hFile;
    CRITICAL_SECTION m_csFile;  // opening, writing and closing; recursive

    DECLARE_MESSAGE_MAP()
};
