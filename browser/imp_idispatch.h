// The script object the embedded browser will receive as window.external. It carries only its
// reference count until the script bridge is built.
#pragma once

class CImpIDispatch {
public:
    CImpIDispatch() = default;
    unsigned long AddRef() { return ++m_cRef; }
    unsigned long Release() { return m_cRef ? --m_cRef : 0; }
    unsigned long RefCount() const { return m_cRef; }

private:
    unsigned long m_cRef = 0;
};
