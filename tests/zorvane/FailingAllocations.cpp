#include "FailingAllocations.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// The thread whose allocations fail; ANY_THREAD for all of them, 0 for none.
constexpr DWORD ANY_THREAD = 0xFFFFFFFFu;
std::atomic<DWORD> g_thread{0};
std::size_t g_size = 0;
std::atomic<int> g_skip{0};
std::atomic<int> g_count{0};
} // namespace

void FailAllocations(std::size_t size, int skip, int count, bool anyThread)
{
    g_size = size;
    g_skip = skip;
    g_count = count;
    g_thread = anyThread ? ANY_THREAD : ::GetCurrentThreadId();
}

void StopFailingAllocations()
{
    g_thread = 0;
}

void* operator new(std::size_t n)
{
    const DWORD thread = g_thread.load(std::memory_order_relaxed);
    if ((thread == ::GetCurrentThreadId() || thread == ANY_THREAD) && (g_size == 0 || n == g_size)) {
        if (g_skip > 0) {
            --g_skip;
        } else if (g_count != 0) {
            if (g_count > 0)
                --g_count;
            throw std::bad_alloc();
        }
    }
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
