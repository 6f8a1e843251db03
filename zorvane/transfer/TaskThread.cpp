#include "TaskThread.h"

#include "Exception.h"

CTaskThread::CTaskThread()
{
    m_idle.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    if (!m_idle)
        throw CResourceException(::GetLastError());
}

CTaskThread::~CTaskThread() = default;

bool CTaskThread::Start()
{
    // A thread that was never joined is joined first, so at most one exists.
    if (m_thread)
        Wait();
    ::ResetEvent(m_idle.Get());
    DWORD id = 0;
    HANDLE thread = ::CreateThread(nullptr, 0, Entry, this, 0, &id);
    if (!thread) {
        ::SetEvent(m_idle.Get());
        return false;
    }
    m_threadId = id;
    ::InterlockedExchangePointer(const_cast<PVOID volatile*>(reinterpret_cast<PVOID volatile*>(&m_thread)), thread);
    return true;
}

void CTaskThread::Wait()
{
    ::WaitForSingleObject(m_idle.Get(), INFINITE);
    HANDLE thread = ::InterlockedExchangePointer(
        const_cast<PVOID volatile*>(reinterpret_cast<PVOID volatile*>(&m_thread)), nullptr);
    if (thread) {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
}

DWORD WINAPI CTaskThread::Entry(LPVOID parameter)
{
    CTaskThread* self = static_cast<CTaskThread*>(parameter);
    HANDLE idle = self->m_idle.Get();
    self->Run();
    // From here the object may be deleted by the thread that waits for it.
    ::SetEvent(idle);
    return 0;
}
