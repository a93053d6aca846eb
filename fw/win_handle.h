// Owning wrappers for Win32 handles, so no business code closes a handle by hand.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <utility>

namespace fw {

// Owns one handle of a kind described by Traits (its invalid value and how to close it).
template <class Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;
    UniqueResource() = default;
    explicit UniqueResource(Handle h) : m_h(h) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& o) noexcept : m_h(o.release()) {}
    UniqueResource& operator=(UniqueResource&& o) noexcept
    {
        if (this != &o) reset(o.release());
        return *this;
    }

    Handle get() const { return m_h; }
    explicit operator bool() const { return m_h != Traits::Invalid(); }
    Handle release() { return std::exchange(m_h, Traits::Invalid()); }
    void reset(Handle h = Traits::Invalid())
    {
        if (h == m_h) return;  // resetting to the handle it holds must not close it
        if (m_h != Traits::Invalid()) Traits::Close(m_h);
        m_h = h;
    }
    // For APIs that return the handle through an out parameter.
    Handle* put()
    {
        reset();
        return &m_h;
    }

private:
    Handle m_h = Traits::Invalid();
};

struct KernelHandleTraits {  // handles whose "none" is NULL (mutex, process, thread, event)
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile and snapshots: "none" is INVALID_HANDLE_VALUE
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};

struct InternetHandleTraits {  // WinInet sessions, connections and requests
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::InternetCloseHandle(h); }
};
struct FindHandleTraits {  // FindFirstFile searches
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};
struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { ::CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { ::CryptDestroyHash(h); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueInternet = UniqueResource<InternetHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueCryptProvider = UniqueResource<CryptProviderTraits>;
using UniqueCryptHash = UniqueResource<CryptHashTraits>;

}  // namespace fw
