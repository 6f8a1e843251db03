#pragma once

#include <windows.h>

#include "Handle.h"

// A unit of work that runs on a thread of its own. Start runs Run on a new
// thread; Wait blocks until no Run is in progress and joins the thread. The idle
// event is signalled whenever no Run is in progress.
class CTaskThread {
public:
    // Throws CResourceException when the idle event cannot be created.
    CTaskThread();
    virtual ~CTaskThread();
    CTaskThread(const CTaskThread&) = delete;
    CTaskThread& operator=(const CTaskThread&) = delete;

    // The work itself, on the worker thread.
    virtual void Run() = 0;

    // True when the thread was created.
    bool Start();
    // Blocks until no Run is in progress, then joins the thread. Returns at once
    // when nothing ever ran.
    void Wait();

    DWORD ThreadId() const noexcept { return m_threadId; }
    bool IsIdle() const noexcept { return WaitIdle(0); }
    // Waits up to timeoutMs for no Run to be in progress; true when none is.
    bool WaitIdle(DWORD timeoutMs) const noexcept
    {
        return ::WaitForSingleObject(m_idle.Get(), timeoutMs) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Entry(LPVOID parameter);

    DWORD m_threadId = 0;
    HANDLE volatile m_thread = nullptr; // not yet joined; exchanged atomically
    CKernelHandle m_idle;               // manual reset, created signalled
};
