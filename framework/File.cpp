#include "File.h"

bool CFile::Open(const std::wstring& path, unsigned flags)
{
    Close();
    DWORD access = 0;
    switch (flags & 3) {
    case modeRead: access = GENERIC_READ; break;
    case modeWrite: access = GENERIC_WRITE; break;
    default: access = GENERIC_READ | GENERIC_WRITE; break;
    }
    DWORD share = 0;
    switch (flags & 0x70) {
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: share = 0; break; // compatibility and exclusive modes share nothing
    }
    if (flags & shareDelete)
        share |= FILE_SHARE_DELETE;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate)
        disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;

    HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        m_error = ::GetLastError();
        return false;
    }
    m_handle.Reset(h);
    m_error = 0;
    return true;
}

bool CFile::Write(const void* data, unsigned count)
{
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        DWORD written = 0;
        if (!::WriteFile(m_handle.Get(), p, count, &written, nullptr) || written == 0) {
            m_error = ::GetLastError();
            if (m_error == 0)
                m_error = ERROR_WRITE_FAULT;
            return false;
        }
        p += written;
        count -= written;
    }
    return true;
}

unsigned CFile::Read(void* data, unsigned count)
{
    DWORD read = 0;
    if (!::ReadFile(m_handle.Get(), data, count, &read, nullptr)) {
        m_error = ::GetLastError();
        return 0;
    }
    return read;
}

bool CFile::ReadAll(const std::wstring& path, std::string& bytes)
{
    CFile file;
    if (!file.Open(path, modeRead | shareDenyNone))
        return false;
    bytes.clear();
    char buffer[64 * 1024];
    for (unsigned n; (n = file.Read(buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    return true;
}

long long CFile::GetLength() const
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_handle.Get(), &size))
        return -1;
    return size.QuadPart;
}
