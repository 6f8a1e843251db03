#pragma once

#include <windows.h>

#include <utility>

// One move-only owner for every kind of handle. Each kind has a small traits
// type: its type, its null value, how to tell a live handle and how to close it.
template <typename Traits>
class CHandle {
public:
    using Type = typename Traits::Type;

    CHandle() noexcept : m_h(Traits::Null()) {}
    explicit CHandle(Type h) noexcept : m_h(h) {}
    ~CHandle() { Reset(); }

    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept : m_h(other.Release()) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Type Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return Traits::IsLive(m_h); }

    Type Release() noexcept
    {
        Type h = m_h;
        m_h = Traits::Null();
        return h;
    }

    void Reset(Type h = Traits::Null()) noexcept
    {
        if (Traits::IsLive(m_h))
            Traits::Close(m_h);
        m_h = h;
    }

private:
    Type m_h;
};

// Kernel handles have two null values: CreateFile answers INVALID_HANDLE_VALUE,
// most other calls answer null.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using CKernelHandle = CHandle<KernelHandleTraits>;

template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};
using CBitmapHandle = CHandle<GdiObjectTraits<HBITMAP>>;
using CFontHandle = CHandle<GdiObjectTraits<HFONT>>;
using CPenHandle = CHandle<GdiObjectTraits<HPEN>>;
using CBrushHandle = CHandle<GdiObjectTraits<HBRUSH>>;
using CRegionHandle = CHandle<GdiObjectTraits<HRGN>>;

// A memory device context made with CreateCompatibleDC.
struct MemoryDcTraits {
    using Type = HDC;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};
using CMemoryDc = CHandle<MemoryDcTraits>;

struct RegKeyTraits {
    using Type = HKEY;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
using CRegKey = CHandle<RegKeyTraits>;

struct IconTraits {
    using Type = HICON;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::DestroyIcon(h); }
};
using CIconHandle = CHandle<IconTraits>;

struct ModuleTraits {
    using Type = HMODULE;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
using CModuleHandle = CHandle<ModuleTraits>;

// Selects a GDI object into a device context and puts the previous one back.
class CSelectObject {
public:
    CSelectObject(HDC dc, HGDIOBJ object) noexcept
        : m_dc(dc), m_previous(dc && object ? ::SelectObject(dc, object) : nullptr)
    {
    }
    ~CSelectObject()
    {
        if (m_previous)
            ::SelectObject(m_dc, m_previous);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

    bool Selected() const noexcept { return m_previous != nullptr; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// BeginPaint/EndPaint as one scope.
class CPaintDc {
public:
    explicit CPaintDc(HWND wnd) noexcept : m_wnd(wnd) { m_dc = ::BeginPaint(wnd, &m_ps); }
    ~CPaintDc() { ::EndPaint(m_wnd, &m_ps); }
    CPaintDc(const CPaintDc&) = delete;
    CPaintDc& operator=(const CPaintDc&) = delete;

    HDC Get() const noexcept { return m_dc; }
    const PAINTSTRUCT& Info() const noexcept { return m_ps; }

private:
    HWND m_wnd;
    HDC m_dc;
    PAINTSTRUCT m_ps{};
};
