#pragma once

#include <new>
#include <string>

#include "CriticalSection.h"
#include "LockedList.h"

// One server: its name and the address of its update list.
class CServerInfo {
public:
    CServerInfo(std::wstring name, std::wstring url) : Name(std::move(name)), URL(std::move(url)) {}
    virtual ~CServerInfo() = default;

    std::wstring Name;
    std::wstring URL;
};

// The ordered servers of a session; the first one gives the update list.
class CServerList : public CLockedList<CServerInfo, CCriticalSection> {
public:
    // Appends a server; false only when its record or its place in the list
    // cannot be created (nothing is kept then).
    bool Add(const std::wstring& name, const std::wstring& url)
    {
        CServerInfo* info = nullptr;
        try {
            info = new CServerInfo(name, url);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return PushBack(info);
    }

    // The first server, left in the list; null when there is none.
    CServerInfo* First() const { return Front(); }
};
