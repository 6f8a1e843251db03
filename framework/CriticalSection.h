#pragma once

#include <windows.h>

// A re-entrant lock: the thread that holds it may take it again.
class CCriticalSection {
public:
    CCriticalSection() noexcept { ::InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { ::DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Lock() noexcept { ::EnterCriticalSection(&m_cs); }
    void Unlock() noexcept { ::LeaveCriticalSection(&m_cs); }

    // BasicLockable, so that standard guards and the locked lists can use it.
    void lock() noexcept { Lock(); }
    void unlock() noexcept { Unlock(); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds a critical section for one scope.
class CScopedLock {
public:
    explicit CScopedLock(CCriticalSection& cs) noexcept : m_cs(cs) { m_cs.Lock(); }
    ~CScopedLock() { m_cs.Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    CCriticalSection& m_cs;
};
