#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string>

// Owners for what COM hands out: an interface pointer, a BSTR, a VARIANT. Each
// releases what it holds when it goes; none can be copied.

template <typename T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    ~CComPtr() { Reset(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    CComPtr(CComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = other.m_p;
            other.m_p = nullptr;
        }
        return *this;
    }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // For an out-parameter: releases what is held and answers the slot to fill.
    T** Receive() noexcept
    {
        Reset();
        return &m_p;
    }
    void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }

    void Reset() noexcept
    {
        if (m_p) {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};

class CBstr {
public:
    CBstr() noexcept = default;
    ~CBstr() { Reset(); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const noexcept { return m_s; }
    BSTR* Receive() noexcept
    {
        Reset();
        return &m_s;
    }
    // The text, embedded nulls included; a null BSTR is the empty text.
    std::wstring Text() const { return m_s ? std::wstring(m_s, ::SysStringLen(m_s)) : std::wstring(); }

    void Reset() noexcept
    {
        ::SysFreeString(m_s);
        m_s = nullptr;
    }

private:
    BSTR m_s = nullptr;
};

class CVariant {
public:
    CVariant() noexcept { ::VariantInit(&m_v); }
    ~CVariant() { ::VariantClear(&m_v); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    // Holds a copy of the text as a string variant; false when it cannot be allocated.
    bool SetString(const std::wstring& text) noexcept
    {
        ::VariantClear(&m_v);
        BSTR s = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!s)
            return false;
        V_VT(&m_v) = VT_BSTR;
        V_BSTR(&m_v) = s;
        return true;
    }

    // Holds a copy of the bytes as an array variant (a document to parse);
    // false when it cannot be allocated.
    bool SetBytes(const std::string& bytes) noexcept
    {
        ::VariantClear(&m_v);
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (!array)
            return false;
        void* data = nullptr;
        if (FAILED(::SafeArrayAccessData(array, &data))) {
            ::SafeArrayDestroy(array);
            return false;
        }
        if (!bytes.empty())
            std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
        V_VT(&m_v) = VT_ARRAY | VT_UI1;
        V_ARRAY(&m_v) = array;
        return true;
    }

    VARIANT& Get() noexcept { return m_v; }

private:
    VARIANT m_v;
};

// Initialises COM on this thread for a scope (also when it answers S_FALSE, which
// needs the matching uninitialise too).
class CComInit {
public:
    explicit CComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept : m_hr(::CoInitializeEx(nullptr, model)) {}
    ~CComInit()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

    bool Succeeded() const noexcept { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};
