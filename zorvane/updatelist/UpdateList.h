#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <windows.h>
#include <oaidl.h>

#include "CriticalSection.h"
#include "FileEntry.h"
#include "LockedList.h"

// The files of one update list in document order, owned until PopFront hands
// one out. Every operation holds the list's own critical section.
class CUpdateList : public CLockedList<CFileEntry, CCriticalSection> {
public:
    // Captures the module, Windows and system folders.
    CUpdateList();
    ~CUpdateList() override { Clear(); }

    // Replaces the contents with the File elements of the XML document at path
    // (read whole first, as the session reads the list it fetched), parsed with
    // the platform's DOM component (COM must be initialised on this
    // thread). False, with an empty list, when the document cannot be created,
    // read or parsed; false, keeping what was appended, when stop is set (it is
    // looked at between two elements). Memory that runs out is not a list that
    // cannot be read: std::bad_alloc leaves, keeping what was appended.
    bool Load(const std::wstring& path, const std::atomic<bool>* stop = nullptr);
    // The same for a document held in memory (the bytes of the file).
    bool LoadBytes(const std::string& document, const std::atomic<bool>* stop = nullptr);

    // Keeps the entries whose file is missing or older than the listed one, in
    // their order, and deletes the others; answers how many stay. Once stop is
    // set, the entries not yet decided are deleted unread.
    unsigned SelectForUpdate(const std::atomic<bool>* stop = nullptr);

    // The sum of the low 32 bits of Length over the entries that need an
    // update, modulo 2^32.
    std::uint32_t TotalLength() const;

    // The folder of the program's own executable, without a trailing separator.
    const std::wstring& ModuleFolder() const { return m_moduleFolder; }
    const std::wstring& WindowsFolder() const { return m_windowsFolder; }
    const std::wstring& SystemFolder() const { return m_systemFolder; }

private:
    bool LoadDocument(VARIANT& source, const std::atomic<bool>* stop);
    const std::wstring& BaseFolderFor(const std::wstring& installDir) const;

    std::wstring m_moduleFolder;
    std::wstring m_windowsFolder;
    std::wstring m_systemFolder;
};
