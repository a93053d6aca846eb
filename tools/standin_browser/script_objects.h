// The page's script objects: "window" with its members, and the plain objects of its
// location and document.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

namespace standin {

class PageHost;

// A script object of named values: text properties and child objects, read-only.
class PropertyObject : public IDispatch {
public:
    PropertyObject() = default;
    void AddText(const std::wstring& name, const std::wstring& value);
    void AddObject(const std::wstring& name, IDispatch* object);  // takes a reference

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

protected:
    virtual ~PropertyObject();
    // Methods of a derived object, with DISPIDs from kFirstMethod; DISP_E_MEMBERNOTFOUND when
    // it has none of that id.
    static constexpr DISPID kFirstMethod = 1000;
    // For an object's own name beside its members: true (ids set to id) when names asks for it.
    static bool AnswerName(LPOLESTR* names, UINT count, DISPID* ids, const wchar_t* name, DISPID id);
    virtual const std::vector<std::wstring>& MethodNames() const;
    virtual HRESULT CallMethod(DISPID id, DISPPARAMS& params, VARIANT* result);

private:
    struct Member {
        std::wstring name;
        std::wstring text;
        IDispatch* object = nullptr;
    };
    ULONG m_cRef = 1;
    std::vector<Member> m_members;
};

// "document": its title, and getElementById for the page's text fields.
class DocumentObject : public PropertyObject {
public:
    explicit DocumentObject(PageHost& host) : m_host(host) {}

protected:
    const std::vector<std::wstring>& MethodNames() const override;
    HRESULT CallMethod(DISPID id, DISPPARAMS& params, VARIANT* result) override;

private:
    PageHost& m_host;
};

// A text field of the page: its "value" is read from the field as it is now.
class FieldObject : public PropertyObject {
public:
    FieldObject(PageHost& host, const std::wstring& id) : m_host(host), m_id(id) {}
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* arg) override;

private:
    static constexpr DISPID kValue = 998;
    PageHost& m_host;
    std::wstring m_id;
};

// "window": external (read when asked), alert, confirm, open and setTimeout through the host.
class WindowObject : public PropertyObject {
public:
    explicit WindowObject(PageHost& host) : m_host(host) {}
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* arg) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;

protected:
    const std::vector<std::wstring>& MethodNames() const override;
    HRESULT CallMethod(DISPID id, DISPPARAMS& params, VARIANT* result) override;

private:
    static constexpr DISPID kExternal = 999;
    PageHost& m_host;
};

// The text of a script argument (last argument first), "" when it is none.
std::wstring ArgumentText(const DISPPARAMS& params, UINT fromEnd);

}  // namespace standin
