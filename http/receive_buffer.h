// The lock and buffer that a request's send worker and its owner share.
#pragma once
#include <windows.h>

#include <string>

namespace inner {

// Owns one critical section for the lifetime of the object.
class FCAutoCSec {
public:
    FCAutoCSec() { ::InitializeCriticalSection(&m_cs); }
    virtual ~FCAutoCSec() { ::DeleteCriticalSection(&m_cs); }
    FCAutoCSec(const FCAutoCSec&) = delete;
    FCAutoCSec& operator=(const FCAutoCSec&) = delete;

    void Lock() { ::EnterCriticalSection(&m_cs); }
    void Unlock() { ::LeaveCriticalSection(&m_cs); }

    // Holds the lock for the rest of a scope.
    class Guard {
    public:
        explicit Guard(FCAutoCSec& cs) : m_cs(cs) { m_cs.Lock(); }
        ~Guard() { m_cs.Unlock(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        FCAutoCSec& m_cs;
    };

private:
    CRITICAL_SECTION m_cs;
};

// The received body. The send worker appends while the owner may read; both go through the
// lock, which Append and Copy take themselves.
class CReceiveBuffer : public FCAutoCSec {
public:
    void Append(const char* bytes, size_t count)
    {
        Guard lock(*this);
        m_bytes.append(bytes, count);
    }
    std::string Copy()
    {
        Guard lock(*this);
        return m_bytes;
    }
    size_t Size()
    {
        Guard lock(*this);
        return m_bytes.size();
    }

private:
    std::string m_bytes;
};

}  // namespace inner
