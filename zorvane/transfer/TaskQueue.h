#pragma once

#include "CriticalSection.h"
#include "InetFile.h"
#include "LockedList.h"

// The ordered, owning queue of transfers. Remove and Clear delete the transfers,
// which cancels a running one and waits for its thread.
class CTaskQueue : public CLockedList<CInetFile, CCriticalSection> {
public:
    ~CTaskQueue() override { Clear(); }
};
