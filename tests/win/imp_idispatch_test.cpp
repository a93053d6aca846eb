// window.external as the page's script engine calls it: names, argument order, conversions
// and results, with the launcher's dispatcher replaced by a recorder.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "browser/imp_idispatch.h"

namespace {

class RecordingDispatch : public CImpIDispatch {
public:
    std::vector<std::pair<std::wstring, std::wstring>> calls;
    std::wstring answer = L"answer";
    bool ready = false;

protected:
    std::wstring Dispatch(const std::wstring& method, const std::wstring& params) override
    {
        calls.emplace_back(method, params);
        return answer;
    }
    bool IsDownLoadComplete() override { return ready; }
};

// Script arguments in script order; Invoke receives them last first.
class Arguments {
public:
    Arguments& Text(const wchar_t* text)
    {
        VARIANT& v = Next(VT_BSTR);
        V_BSTR(&v) = text ? ::SysAllocString(text) : nullptr;
        return *this;
    }
    Arguments& Int(int value)
    {
        V_I4(&Next(VT_I4)) = value;
        return *this;
    }
    Arguments& Bool(bool value)
    {
        V_BOOL(&Next(VT_BOOL)) = value ? VARIANT_TRUE : VARIANT_FALSE;
        return *this;
    }
    Arguments& Object(IDispatch* object)
    {
        V_DISPATCH(&Next(VT_DISPATCH)) = object;
        object->AddRef();
        return *this;
    }
    ~Arguments()
    {
        for (VARIANT& v : m_args) ::VariantClear(&v);
    }
    DISPPARAMS Params()
    {
        return DISPPARAMS{m_args.empty() ? nullptr : m_args.data(), nullptr, static_cast<UINT>(m_args.size()), 0};
    }

private:
    // The new argument goes first: the last script argument is element 0.
    VARIANT& Next(VARTYPE type)
    {
        VARIANT v;
        ::VariantInit(&v);
        V_VT(&v) = type;
        return *m_args.insert(m_args.begin(), v);
    }
    std::vector<VARIANT> m_args;
};

DISPID IdOf(IDispatch& dispatch, const wchar_t* name, HRESULT* hr = nullptr)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 12345;
    const HRESULT result = dispatch.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr) *hr = result;
    return id;
}

// Calls a method the way a script engine does and returns the result as text ("<none>"
// when the result was left untouched).
std::wstring Call(IDispatch& dispatch, const wchar_t* name, Arguments& args)
{
    DISPPARAMS params = args.Params();
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(dispatch.Invoke(IdOf(dispatch, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                              nullptr, nullptr),
              S_OK);
    std::wstring text = L"<none>";
    if (V_VT(&result) == VT_BSTR) text = V_BSTR(&result) ? V_BSTR(&result) : L"";
    ::VariantClear(&result);
    return text;
}

TEST(CImpIDispatch, NamesAreFoundExactlyAndOnlyTheFirstCounts)
{
    RecordingDispatch external;
    struct NameCase {
        const wchar_t* name;
        DISPID id;
        HRESULT hr;
    };
    const NameCase cases[] = {
        {L"JavascriptToCsharp", 1, S_OK},          {L"AppLogin", 2, S_OK},
        {L"gamelogin", 2, S_OK},                   {L"IsDownLoadComplete", 3, S_OK},
        {L"javascripttocsharp", -1, DISP_E_UNKNOWNNAME}, {L"applogin", -1, DISP_E_UNKNOWNNAME},
        {L"GameLogin", -1, DISP_E_UNKNOWNNAME},    {L"isdownloadcomplete", -1, DISP_E_UNKNOWNNAME},
        {L"AppLogin ", -1, DISP_E_UNKNOWNNAME},    {L"", -1, DISP_E_UNKNOWNNAME},
    };
    for (const NameCase& c : cases) {
        HRESULT hr = E_FAIL;
        EXPECT_EQ(IdOf(external, c.name, &hr), c.id) << testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(hr, c.hr) << testing::PrintToString(std::wstring(c.name));
    }

    // Named arguments after the member are not looked up: every output gets the member's id.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"AppLogin"), const_cast<LPOLESTR>(L"nonsense")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(external.GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 2);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"nonsense"), const_cast<LPOLESTR>(L"AppLogin")};
    EXPECT_EQ(external.GetIDsOfNames(IID_NULL, unknown, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST(CImpIDispatch, ScriptArgumentsReachTheDispatcherInScriptOrder)
{
    RecordingDispatch external;
    {
        Arguments args;
        args.Text(L"GetCommandLine").Text(L"anything");
        EXPECT_EQ(Call(external, L"JavascriptToCsharp", args), L"answer");
    }
    {
        // Three arguments: the second and the third are method and parameters.
        Arguments args;
        args.Text(L"ignored").Text(L"LoginResult").Text(L"true|abc");
        Call(external, L"JavascriptToCsharp", args);
    }
    {
        // The login names take the last argument.
        Arguments args;
        args.Text(L"true|first").Text(L"true|last");
        Call(external, L"AppLogin", args);
    }
    {
        Arguments args;
        args.Text(L"true|g");
        Call(external, L"gamelogin", args);
    }
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"GetCommandLine", L"anything"},
        {L"LoginResult", L"true|abc"},
        {L"LoginResult", L"true|last"},
        {L"LoginResult", L"true|g"},
    };
    EXPECT_EQ(external.calls, expected);
}

TEST(CImpIDispatch, TooFewArgumentsDoNothingAndLeaveTheResult)
{
    RecordingDispatch external;
    Arguments one;
    one.Text(L"LoginResult");
    EXPECT_EQ(Call(external, L"JavascriptToCsharp", one), L"<none>");
    Arguments none;
    EXPECT_EQ(Call(external, L"AppLogin", none), L"<none>");
    EXPECT_TRUE(external.calls.empty());

    // An unknown id and a call without a result place do nothing either.
    Arguments two;
    two.Text(L"LoginResult").Text(L"true|x");
    DISPPARAMS params = two.Params();
    EXPECT_EQ(external.Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(external.calls.empty());
    EXPECT_EQ(external.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(external.calls.size(), 1u);
}

TEST(CImpIDispatch, ArgumentsThatAreNotStringsBecomeTextOrEmpty)
{
    RecordingDispatch external;
    RecordingDispatch object;  // any object passed as an argument
    {
        Arguments args;
        args.Text(L"m").Int(42);
        Call(external, L"JavascriptToCsharp", args);
    }
    {
        Arguments args;
        args.Text(L"m").Bool(true);
        Call(external, L"JavascriptToCsharp", args);
    }
    {
        Arguments args;
        args.Text(L"m").Text(nullptr);
        Call(external, L"JavascriptToCsharp", args);
    }
    {
        Arguments args;
        args.Text(L"m").Object(&object);
        Call(external, L"JavascriptToCsharp", args);
    }
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"m", L"42"}, {L"m", L"True"}, {L"m", L""}, {L"m", L""}};
    EXPECT_EQ(external.calls, expected);
    EXPECT_EQ(object.RefCount(), 0u);  // the argument's reference was not kept
}

TEST(CImpIDispatch, IsDownLoadCompleteIsABooleanOfTheMoment)
{
    RecordingDispatch external;
    for (bool ready : {false, true}) {
        external.ready = ready;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT result;
        ::VariantInit(&result);
        ASSERT_EQ(external.Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
        EXPECT_EQ(V_VT(&result), VT_BOOL);
        EXPECT_EQ(V_BOOL(&result), ready ? VARIANT_TRUE : VARIANT_FALSE);
    }
    EXPECT_TRUE(external.calls.empty());
}

// Knows when it is deleted.
class CountedDispatch : public RecordingDispatch {
public:
    explicit CountedDispatch(bool& gone) : m_gone(gone) { m_gone = false; }
    ~CountedDispatch() override { m_gone = true; }

private:
    bool& m_gone;
};

TEST(CImpIDispatch, InterfacesAndDeletionAtTheLastRelease)
{
    bool gone = false;
    auto* external = new CountedDispatch(gone);
    EXPECT_EQ(external->AddRef(), 1u);  // its owner's
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(external->QueryInterface(IID_IDispatch, &out), S_OK);
    EXPECT_EQ(out, static_cast<IDispatch*>(external));
    EXPECT_EQ(external->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(external->RefCount(), 3u);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(external->QueryInterface(IID_IPersist, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(external->Release(), 2u);
    EXPECT_EQ(external->Release(), 1u);
    EXPECT_FALSE(gone);
    Arguments args;
    args.Text(L"a").Text(L"b");
    EXPECT_EQ(Call(*external, L"JavascriptToCsharp", args), L"answer");
    UINT count = 9;
    EXPECT_EQ(external->GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(external->Release(), 0u);
    EXPECT_TRUE(gone) << "the last reference went, the object stayed";
}

TEST(CImpIDispatch, TheApplicationLetsGoAndTheBrowsersLastReleaseDeletesIt)
{
    // The browser's script engine may hold the object past the control's Close.
    bool gone = false;
    CImpIDispatch* owned = new CountedDispatch(gone);
    owned->AddRef();
    IDispatch* heldByTheBrowser = nullptr;
    ASSERT_EQ(owned->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&heldByTheBrowser)), S_OK);
    ReleaseApplicationExternal(owned);
    EXPECT_EQ(owned, nullptr);
    ASSERT_FALSE(gone) << "deleted while the browser still holds it";
    UINT count = 9;
    EXPECT_EQ(heldByTheBrowser->GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(heldByTheBrowser->Release(), 0u);
    EXPECT_TRUE(gone);

    // Nothing out: the application's release is the last one.
    owned = new CountedDispatch(gone);
    owned->AddRef();
    ReleaseApplicationExternal(owned);
    EXPECT_EQ(owned, nullptr);
    EXPECT_TRUE(gone);
    ReleaseApplicationExternal(owned);  // none at all: nothing to do
}

}  // namespace
