#pragma once

#include <string>

// Base of the framework's exceptions. Thrown by value and caught by reference;
// none of them ever crosses a window procedure or a thread entry point.
class CException {
public:
    CException() = default;
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;
    virtual ~CException() = default;

    // A short English description for debugger output.
    virtual std::wstring Describe() const { return L"exception"; }
};

// A system resource (an event, a thread, memory) could not be had.
class CResourceException : public CException {
public:
    explicit CResourceException(unsigned long error = 0) : m_error(error) {}
    unsigned long m_error;
    std::wstring Describe() const override { return L"resource error " + std::to_wstring(m_error); }
};
