// Owning wrappers for COM interface pointers and BSTRs, so no business code calls Release or
// SysFreeString by hand.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace fw {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_p = std::exchange(o.m_p, nullptr);
        }
        return *this;
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void reset()
    {
        if (m_p) std::exchange(m_p, nullptr)->Release();
    }
    // For APIs that return an interface through an out parameter.
    T** put()
    {
        reset();
        return &m_p;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* m_p = nullptr;
};

// A BSTR made from a wide string and freed at the end of its scope.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : m_b(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(m_b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return m_b; }

private:
    BSTR m_b;
};

// A VARIANT cleared at the end of its scope.
class Variant {
public:
    Variant() { ::VariantInit(&m_v); }
    ~Variant() { ::VariantClear(&m_v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* put()
    {
        ::VariantClear(&m_v);
        return &m_v;
    }
    const VARIANT& get() const { return m_v; }

private:
    VARIANT m_v;
};

}  // namespace fw
