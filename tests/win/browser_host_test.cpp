// The browser host: the document-host answers and the script-error command of the control
// site, and the main launcher window showing the page's place when the top-level page has
// completed, never at a frame's completion (with the stand-in browser control that the test
// prefix registers).
#include <windows.h>
#include <mshtmhst.h>

#include <gtest/gtest.h>

#include <thread>

#include "browser/custom_control_site.h"
#include "browser/imp_idispatch.h"
#include "fw/com_ptr.h"
#include "res/resource.h"
#include "tests/win/win_test_support.h"
#include "ui/web_c_dlg.h"

namespace {

TEST(CCustomControlSite, AnswersTheDocumentHostQuestions)
{
    auto* site = new CCustomControlSite(nullptr);
    fw::ComPtr<IDocHostUIHandler> handler;
    fw::ComPtr<IDocHostShowUI> showUi;
    ASSERT_EQ(site->QueryInterface(IID_IDocHostUIHandler, handler.put_void()), S_OK);
    ASSERT_EQ(site->QueryInterface(kIID_IDocHostShowUI, showUi.put_void()), S_OK);

    DOCHOSTUIINFO info{};
    info.cbSize = sizeof info;
    info.dwFlags = 0xFFFF0000;
    info.dwDoubleClick = 7;
    wchar_t css[] = L"kept";
    info.pchHostCss = css;
    EXPECT_EQ(handler->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, 0x0Cu);  // no 3-D border, no scroll bars
    EXPECT_EQ(info.dwDoubleClick, 0u);
    EXPECT_EQ(info.pchHostCss, css);

    POINT pt{1, 1};
    EXPECT_EQ(handler->ShowContextMenu(0, &pt, nullptr, nullptr), S_OK);  // handled: no menu
    EXPECT_EQ(handler->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(handler->HideUI(), S_OK);
    EXPECT_EQ(handler->UpdateUI(), S_OK);
    EXPECT_EQ(handler->EnableModeless(TRUE), E_NOTIMPL);
    EXPECT_EQ(handler->OnDocWindowActivate(TRUE), E_NOTIMPL);
    EXPECT_EQ(handler->OnFrameWindowActivate(TRUE), E_NOTIMPL);
    EXPECT_EQ(handler->ResizeBorder(nullptr, nullptr, TRUE), E_NOTIMPL);
    EXPECT_EQ(handler->GetOptionKeyPath(nullptr, 0), E_NOTIMPL);
    EXPECT_EQ(handler->GetDropTarget(nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(handler->TranslateUrl(0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(handler->FilterDataObject(nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(showUi->ShowHelp(nullptr, nullptr, 0, 0, pt, nullptr), S_OK);

    // Keys that are not held down are never blocked, and only key-down messages count.
    MSG up{nullptr, WM_KEYUP, VK_F5, 0, 0, {}};
    MSG typed{nullptr, WM_KEYDOWN, 'A', 0, 0, {}};
    EXPECT_EQ(handler->TranslateAccelerator(&up, nullptr, 0), S_FALSE);
    EXPECT_EQ(handler->TranslateAccelerator(&typed, nullptr, 0), S_FALSE);

    // Without the launcher's application object there is no script object to hand out.
    IDispatch* external = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(handler->GetExternal(&external), S_OK);
    EXPECT_EQ(external, nullptr);

    // Script errors are answered (no box) and the page's scripts go on; other commands and
    // groups are left to the browser: the standard group (null) is a known one without any
    // command of ours, another group is unknown.
    fw::ComPtr<IOleCommandTarget> commands;
    ASSERT_EQ(site->QueryInterface(IID_IOleCommandTarget, commands.put_void()), S_OK);
    VARIANT out;
    ::VariantInit(&out);
    EXPECT_EQ(commands->Exec(&kCGID_DocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, &out), S_OK);
    EXPECT_EQ(V_VT(&out), VT_BOOL);
    EXPECT_EQ(V_BOOL(&out), VARIANT_TRUE);
    EXPECT_EQ(commands->Exec(&kCGID_DocHostCommandHandler, OLECMDID_REFRESH, 0, nullptr, nullptr),
              OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(commands->Exec(&IID_IUnknown, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);
    EXPECT_EQ(commands->Exec(nullptr, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
    OLECMD command{OLECMDID_REFRESH, 0};
    EXPECT_EQ(commands->QueryStatus(nullptr, 1, &command, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(commands->QueryStatus(&kCGID_DocHostCommandHandler, 1, &command, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(commands->QueryStatus(&IID_IUnknown, 1, &command, nullptr), OLECMDERR_E_UNKNOWNGROUP);
    commands.reset();
    handler.reset();
    showUi.reset();
    site->Release();
}

bool PlaceShown(HWND dialog) { return ::IsWindowVisible(::GetDlgItem(dialog, IDC_BROWSER)) != FALSE; }

TEST(CWebCDlg, ShowsThePagesPlaceAtTheTopLevelCompletionNeverAtAFrames)
{
    // The browser control is an apartment-threaded COM object of the window thread.
    wintest::OleApartment apartment;
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND hwnd = dlg.GetSafeHwnd();
    ::ShowWindow(hwnd, SW_SHOW);
    ::ShowWindow(::GetDlgItem(hwnd, IDC_BROWSER), SW_HIDE);

    // A navigation of the control (nothing answers there): its top-level document completes
    // on the window thread, with the control's own object.
    ASSERT_EQ(dlg.Browser().Navigate(L"http://127.0.0.1:9/none"), S_OK);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return PlaceShown(hwnd); }, 20000))
        << "the completed page did not show its place";

    // A frame navigates and completes with its own object: even as the latest navigated one,
    // its completion is not the page's.
    auto* frame = new CImpIDispatch();
    frame->AddRef();
    ::ShowWindow(::GetDlgItem(hwnd, IDC_BROWSER), SW_HIDE);
    dlg.Browser().OnNavigateComplete2(frame);
    dlg.Browser().OnDocumentComplete(frame);
    EXPECT_FALSE(PlaceShown(hwnd));
    EXPECT_FALSE(dlg.Browser().IsTopLevel(frame));
    EXPECT_FALSE(dlg.Browser().IsTopLevel(nullptr));
    frame->Release();
}

TEST(CWebCDlg, TheControlRefusesACallFromAnotherThread)
{
    // An apartment-threaded control's pointer, carried to another thread without marshalling:
    // the call fails there and never runs on the wrong thread.
    wintest::OleApartment apartment;
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HRESULT fromAnotherThread = S_OK;
    std::thread([&] {
        wintest::OleApartment own;
        fromAnotherThread = dlg.Browser().Navigate(L"http://127.0.0.1:9/other-thread");
    }).join();
    EXPECT_EQ(fromAnotherThread, RPC_E_WRONG_THREAD);
    EXPECT_EQ(dlg.Browser().GetReadyState(), 0) << "the refused navigation did not start";
}

}  // namespace
