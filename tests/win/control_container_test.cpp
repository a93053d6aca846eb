// The launcher's control container and what surrounds the browser control: keyboard messages
// offered to the control's in-place active object before anything else handles them (and only
// those aimed inside the control), the active object kept until the control hands over null or
// goes, the control taken down with its place; and an address opened by the launcher itself
// when no desktop shell opens it.
#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "browser/shell_url_opener.h"
#include "fw/dialog.h"
#include "fw/ole_control_site.h"
#include "res/resource.h"
#include "tests/win/win_test_support.h"

namespace {

// An in-place active object that records the messages it is offered and answers as told.
class RecordingActiveObject : public IOleInPlaceActiveObject {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOleWindow) &&
            !IsEqualIID(riid, IID_IOleInPlaceActiveObject))
            return E_NOINTERFACE;
        *ppv = static_cast<IOleInPlaceActiveObject*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override
    {
        m_offered.push_back(msg->message);
        return m_answer;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    ULONG m_cRef = 1;
    HRESULT m_answer = S_FALSE;
    std::vector<UINT> m_offered;
};

// A window that counts the messages dispatched to it.
std::vector<UINT> g_dispatched;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg >= WM_KEYFIRST && msg <= WM_MOUSELAST) g_dispatched.push_back(msg);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CountingWindow(HWND parent)
{
    return wintest::TestWindow(L"CountingWindow", &CountingProc, parent, WS_CHILD | WS_VISIBLE);
}

void PumpMessages() { wintest::PumpMessagesFor(20); }

struct KeyCase {
    const char* what;
    bool insideControl;
    UINT message;
    HRESULT answer;
    bool offered;
    bool dispatched;
};

// The browser control on the main launcher window's dialog, through a plain control site.
class ControlOnDialog : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialog.Create(nullptr));
        site = new fw::COleControlSite(dialog.GetSafeHwnd());
        ASSERT_TRUE(site->CreateControl(CLSID_WebBrowser, IDC_BROWSER, DIID_DWebBrowserEvents2));
    }
    void TearDown() override
    {
        if (site) site->Release();
    }
    wintest::OleApartment apartment;
    fw::CDialog dialog{IDD_WEBC_DIALOG};
    fw::COleControlSite* site = nullptr;
};

TEST_F(ControlOnDialog, OffersKeysAimedInsideTheControlToItsActiveObjectFirst)
{
    RecordingActiveObject active;
    ASSERT_EQ(site->SetActiveObject(&active, L""), S_OK);
    EXPECT_EQ(active.m_cRef, 2u) << "the site keeps the object it was handed";

    HWND inside = CountingWindow(site->Place());
    HWND outside = CountingWindow(dialog.GetSafeHwnd());
    const KeyCase cases[] = {
        {"a key the control takes", true, WM_KEYDOWN, S_OK, true, false},
        {"a key the control leaves", true, WM_KEYDOWN, S_FALSE, true, true},
        {"a key's release", true, WM_KEYUP, S_FALSE, true, true},
        {"a character the control takes", true, WM_CHAR, S_OK, true, false},
        {"a system key", true, WM_SYSKEYDOWN, S_OK, true, false},
        {"a system key's release", true, WM_SYSKEYUP, S_FALSE, true, true},
        {"a dead character", true, WM_DEADCHAR, S_OK, true, false},
        {"a system character (Alt with a letter)", true, WM_SYSCHAR, S_OK, true, false},
        {"a system dead character", true, WM_SYSDEADCHAR, S_OK, true, false},
        {"a Unicode character", true, WM_UNICHAR, S_OK, true, false},
        {"a mouse click", true, WM_LBUTTONDOWN, S_OK, false, true},
        {"a key for another control of the dialog", false, WM_KEYDOWN, S_OK, false, true},
    };
    for (const KeyCase& c : cases) {
        active.m_offered.clear();
        active.m_answer = c.answer;
        g_dispatched.clear();
        ::PostMessageW(c.insideControl ? inside : outside, c.message, 'A', 1);
        PumpMessages();
        // (a key-down left to the dialog comes back as its character, offered in turn)
        EXPECT_EQ(std::count(active.m_offered.begin(), active.m_offered.end(), c.message), c.offered ? 1 : 0) << c.what;
        EXPECT_EQ(std::count(g_dispatched.begin(), g_dispatched.end(), c.message), c.dispatched ? 1 : 0) << c.what;
    }

    // Handed over null: released, and keys go their usual way.
    ASSERT_EQ(site->SetActiveObject(nullptr, nullptr), S_OK);
    EXPECT_EQ(active.m_cRef, 1u);
    active.m_offered.clear();
    g_dispatched.clear();
    ::PostMessageW(inside, WM_KEYDOWN, 'A', 1);
    PumpMessages();
    EXPECT_TRUE(active.m_offered.empty());
    EXPECT_EQ(std::count(g_dispatched.begin(), g_dispatched.end(), WM_KEYDOWN), 1);

    // Still held when the control goes: released with it.
    site->SetActiveObject(&active, L"");
    site->DestroyControl();
    EXPECT_EQ(active.m_cRef, 1u);
}

TEST(COleControlSite, TakesTheControlDownWhenItsPlaceIsDestroyed)
{
    wintest::OleApartment apartment;
    auto* dialog = new fw::CDialog(IDD_WEBC_DIALOG);
    ASSERT_TRUE(dialog->Create(nullptr));
    auto* site = new fw::COleControlSite(dialog->GetSafeHwnd());
    ASSERT_TRUE(site->CreateControl(CLSID_WebBrowser, IDC_BROWSER, DIID_DWebBrowserEvents2));
    ASSERT_NE(site->ControlDispatch(), nullptr);
    HWND control = ::GetWindow(site->Place(), GW_CHILD);
    ASSERT_NE(control, nullptr);
    delete dialog;  // destroys the dialog and its controls
    EXPECT_EQ(site->ControlDispatch(), nullptr) << "the control outlived its place";
    EXPECT_FALSE(::IsWindow(control));
    site->Release();
}

TEST_F(ControlOnDialog, TheFrameIsAnObjectOfItsOwnOnTheWindowItsContextNames)
{
    fw::ComPtr<IOleInPlaceSite> inPlace;
    ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void()), S_OK);
    fw::ComPtr<IOleInPlaceFrame> frame;
    fw::ComPtr<IOleInPlaceUIWindow> document;
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    ASSERT_EQ(inPlace->GetWindowContext(frame.put(), document.put(), &pos, &clip, &info), S_OK);
    ASSERT_TRUE(frame);
    EXPECT_EQ(info.hwndFrame, dialog.GetSafeHwnd());

    HWND window = nullptr;
    EXPECT_EQ(frame->GetWindow(&window), S_OK);
    EXPECT_EQ(window, info.hwndFrame) << "the frame answers with the window its context names";
    window = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&window), S_OK);
    EXPECT_EQ(window, site->Place()) << "the in-place site answers with the control's place";

    // Its own identity, and every one of its interfaces answers with the frame's window.
    fw::ComPtr<IUnknown> frameIdentity, siteIdentity;
    ASSERT_EQ(frame->QueryInterface(IID_IUnknown, frameIdentity.put_void()), S_OK);
    ASSERT_EQ(site->QueryInterface(IID_IUnknown, siteIdentity.put_void()), S_OK);
    EXPECT_NE(frameIdentity.get(), siteIdentity.get());
    fw::ComPtr<IOleWindow> frameWindow;
    ASSERT_EQ(frame->QueryInterface(IID_IOleWindow, frameWindow.put_void()), S_OK);
    window = nullptr;
    EXPECT_EQ(frameWindow->GetWindow(&window), S_OK);
    EXPECT_EQ(window, dialog.GetSafeHwnd());
    fw::ComPtr<IOleInPlaceSite> notASite;
    EXPECT_EQ(frame->QueryInterface(IID_IOleInPlaceSite, notASite.put_void()), E_NOINTERFACE);

    // A frame the control still holds keeps working after the site went.
    site->DestroyControl();
    std::exchange(site, nullptr)->Release();
    siteIdentity.reset();
    inPlace.reset();
    EXPECT_EQ(frame->SetBorderSpace(nullptr), S_OK);
}

// The URL recorder (the test prefix's web browser) writes one line per address: its arguments
// (the address), a tab and the program that started it. The starter of the address's line.
std::string RecordedStarter(const std::string& url)
{
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 20000) {
        const std::vector<char> bytes = wintest::ReadFileBytes(L"C:\\url_recorder.txt");
        const std::string text(bytes.begin(), bytes.end());
        const size_t at = text.find(url);
        const size_t tab = text.find('\t', at);
        if (at != std::string::npos && tab != std::string::npos) return text.substr(tab + 1, text.find('\n', tab) - tab - 1);
        ::Sleep(100);
    }
    return "";
}

HRESULT NoDesktopShell(const std::wstring&) { return REGDB_E_CLASSNOTREG; }

std::vector<std::wstring> g_shellAsked;
HRESULT RecordingDesktopShell(const std::wstring& url)
{
    g_shellAsked.push_back(url);
    return S_OK;
}

TEST(OpenUrlInDefaultBrowser, OpensOnlyHttpAndHttpsAddressesAndDropsTheRest)
{
    struct UrlCase {
        const wchar_t* url;
        bool opened;
    };
    const UrlCase cases[] = {
        {L"http://127.0.0.1:9/elsewhere?x=1", true},
        {L"https://127.0.0.1:9/secure#part", true},
        {L"HTTP://127.0.0.1:9/UPPER", true},
        {L"hTtPs://127.0.0.1:9/mixed", true},
        {L"file:///C:/windows/system32/calc.exe", false},
        {L"FILE://host/share/x.exe", false},
        {L"\\\\host\\share\\x.exe", false},
        {L"//host/share/x.exe", false},
        {L"C:\\windows\\system32\\calc.exe", false},
        {L"search-ms:query=x&crumb=location:\\\\host\\share", false},
        {L"ms-msdt:/id PCWDiagnostic /skip force", false},
        {L"javascript:alert(1)", false},
        {L"mailto:player@example.invalid", false},
        {L"ftp://127.0.0.1/x.exe", false},
        {L"httpx://127.0.0.1/", false},
        {L"http.exe", false},
        {L" http://127.0.0.1:9/leading-blank", false},
        {L"\thttps://127.0.0.1:9/leading-tab", false},
        {L"", false},
    };
    for (const UrlCase& c : cases) {
        g_shellAsked.clear();
        const UrlOpenedBy by = OpenUrlInDefaultBrowser(c.url, &RecordingDesktopShell);
        EXPECT_EQ(by, c.opened ? UrlOpenedBy::DesktopShell : UrlOpenedBy::Nobody) << testing::PrintToString(c.url);
        // The shell gets the text that was checked, unchanged, or nothing at all.
        EXPECT_EQ(g_shellAsked, c.opened ? std::vector<std::wstring>{c.url} : std::vector<std::wstring>{})
            << testing::PrintToString(c.url);
    }
}

TEST(OpenUrlInDefaultBrowser, WithoutADesktopShellTheLauncherOpensTheAddressItself)
{
    wintest::OleApartment apartment;
    EXPECT_EQ(OpenUrlInDefaultBrowser(L"http://127.0.0.1:9/fallback?a=1", &NoDesktopShell), UrlOpenedBy::Launcher);
    EXPECT_EQ(RecordedStarter("http://127.0.0.1:9/fallback?a=1"), "win_tests.exe");
}

}  // namespace
