#pragma once

#include <windows.h>

#include <string>

#include "Handle.h"

// A file on disk, opened with the framework's mode flags.
class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        shareDelete = 0x0080, // with any of the above: others may delete or rename the file while it is open
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
    };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() = default;

    // True when the file is open; the failing call's error code is kept in LastError().
    bool Open(const std::wstring& path, unsigned flags);
    bool IsOpen() const noexcept { return static_cast<bool>(m_handle); }

    // True when every byte was written.
    bool Write(const void* data, unsigned count);
    // Bytes read; 0 at the end of the file or on a failure.
    unsigned Read(void* data, unsigned count);
    // Length in bytes, or -1 when it cannot be read.
    long long GetLength() const;
    void Close() noexcept { m_handle.Reset(); }

    // Reads a whole file, shared with its other readers and writers; false when
    // it cannot be opened.
    static bool ReadAll(const std::wstring& path, std::string& bytes);

    HANDLE Handle() const noexcept { return m_handle.Get(); }
    DWORD LastError() const noexcept { return m_error; }

private:
    CKernelHandle m_handle;
    DWORD m_error = 0;
};
