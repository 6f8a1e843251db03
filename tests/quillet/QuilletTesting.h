#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>


// Helpers of the Windows tests of the updater.
namespace qtest {

// A path of the test's temporary folder in the 8-bit form the updater uses.
inline std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// Polls until the condition holds; false on time-out.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Runs work on a thread of its own and answers whether it ended within the time.
// A thread that did not end is left running (the test has failed by then).
inline DWORD WINAPI RunJob(LPVOID p)
{
    std::unique_ptr<std::function<void()>> f(static_cast<std::function<void()>*>(p));
    (*f)();
    return 0;
}

inline bool EndsWithin(std::function<void()> work, DWORD timeoutMs)
{
    auto* job = new std::function<void()>(std::move(work));
    HANDLE thread = ::CreateThread(nullptr, 0, RunJob, job, 0, nullptr);
    if (!thread) {
        delete job;
        return false;
    }
    bool ended = ::WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    ::CloseHandle(thread);
    return ended;
}

} // namespace qtest
