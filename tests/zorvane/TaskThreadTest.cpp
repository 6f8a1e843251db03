#include "TaskThread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "InetFile.h"

namespace {

// Records which thread ran it; can be held inside Run until released.
class ProbeTask : public CTaskThread {
public:
    ProbeTask() : m_release(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
    ~ProbeTask() override
    {
        ::SetEvent(m_release);
        Wait();
        for (HANDLE h : m_threads)
            if (h)
                ::CloseHandle(h);
        ::CloseHandle(m_release);
    }

    void Run() override
    {
        int run = m_runs++;
        if (run < 4) {
            m_ids[run] = ::GetCurrentThreadId();
            // Holding the thread object open keeps its id from being reused.
            m_threads[run] = ::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId());
            if (run > 0)
                m_previousEndedBeforeRun[run] = ::WaitForSingleObject(m_threads[run - 1], 0) == WAIT_OBJECT_0;
        }
        ::WaitForSingleObject(m_release, INFINITE);
    }

    void Hold() { ::ResetEvent(m_release); }
    void Release() { ::SetEvent(m_release); }

    std::atomic<int> m_runs{0};
    DWORD m_ids[4] = {};
    HANDLE m_threads[4] = {};
    bool m_previousEndedBeforeRun[4] = {};

private:
    HANDLE m_release;
};

} // namespace

TEST(TaskThread, WaitOnANeverStartedTaskReturnsAtOnce)
{
    ProbeTask task;
    EXPECT_TRUE(task.IsIdle());
    DWORD start = ::GetTickCount();
    task.Wait();
    EXPECT_LT(::GetTickCount() - start, 500u);
    EXPECT_EQ(task.m_runs, 0);
    EXPECT_EQ(task.ThreadId(), 0u);
}

TEST(TaskThread, RunsOnItsOwnThreadAndIsIdleAfterWait)
{
    ProbeTask task;
    task.Hold();
    ASSERT_TRUE(task.Start());
    while (task.m_runs == 0)
        ::Sleep(1);
    EXPECT_FALSE(task.IsIdle());
    EXPECT_NE(task.m_ids[0], ::GetCurrentThreadId());
    EXPECT_EQ(task.m_ids[0], task.ThreadId());
    task.Release();
    task.Wait();
    EXPECT_TRUE(task.IsIdle());
    // Joined: the worker thread has ended.
    EXPECT_EQ(::WaitForSingleObject(task.m_threads[0], 0), WAIT_OBJECT_0);
}

TEST(TaskThread, ASecondStartJoinsTheFirstThreadAndRunsOnANewOne)
{
    ProbeTask task;
    ASSERT_TRUE(task.Start());
    task.Wait();
    ASSERT_TRUE(task.Start()); // without a Wait in between: Start joins the finished thread itself
    task.Wait();
    ASSERT_EQ(task.m_runs, 2);
    EXPECT_NE(task.m_ids[0], task.m_ids[1]);
    EXPECT_TRUE(task.m_previousEndedBeforeRun[1]);
}

TEST(TaskThread, AThreadThatEndsBeforeStartReturnsLeavesTheTaskJoinable)
{
    ProbeTask task;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(task.Start());
        ::Sleep(20); // the run is over long before this
        EXPECT_TRUE(task.IsIdle());
        task.Wait();
    }
    EXPECT_EQ(task.m_runs, 3);
}

TEST(TaskThread, DeletingANeverStartedTransferReturnsAtOnce)
{
    DWORD start = ::GetTickCount();
    delete new CInetFile;
    EXPECT_LT(::GetTickCount() - start, 500u);
}
