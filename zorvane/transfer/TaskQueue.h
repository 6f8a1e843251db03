#pragma once

#include "CriticalSection.h"
#include "InetFile.h"
#include "LockedList.h"

// How long the end of a queue waits, in all, for transfers to stop.
constexpr DWORD TRANSFER_CLOSE_LIMIT_MS = 2000;

// The ordered, owning queue of transfers. Remove and Clear delete the transfers,
// which cancels a running one and waits for its thread.
class CTaskQueue : public CLockedList<CInetFile, CCriticalSection> {
public:
    ~CTaskQueue() override { Close(TRANSFER_CLOSE_LIMIT_MS); }

    // Ends the queue: every transfer is asked to stop, and those whose thread ends
    // within the limit are deleted. A transfer still blocked in the Internet
    // component (a server that accepted and went silent) is left to the end of
    // the process: deleting it would free memory its thread still uses, and
    // waiting would keep a closed program alive until the server's silence limit.
    // Returns the number of transfers left so.
    int Close(DWORD limitMs)
    {
        ForEach([](CInetFile& task) { task.Cancel = true; });
        const DWORD start = ::GetTickCount();
        int abandoned = 0;
        while (CInetFile* task = PopFront()) {
            const DWORD spent = ::GetTickCount() - start;
            if (task->WaitIdle(spent < limitMs ? limitMs - spent : 0))
                delete task;
            else
                ++abandoned;
        }
        return abandoned;
    }
};
