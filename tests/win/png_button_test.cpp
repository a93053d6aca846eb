// The picture button: PNG loading, the click callback on every release, and which picture it
// paints in which state.
#include <gtest/gtest.h>

#include <vector>

#include "res/resource.h"
#include "tests/win/pixel_surface.h"
#include "ui/gdiplus_session.h"
#include "ui/png_button.h"
#include "ui/png_resource.h"

namespace {

constexpr UINT kMissingPng = 4242;

struct PngCase {
    UINT id;
    UINT width, height;  // 0 when the resource is not there
};

class LoadPng : public ::testing::TestWithParam<PngCase> {
protected:
    GdiplusSession m_gdiplus;
};

TEST_P(LoadPng, DecodesThePicturesOfTheModuleAndNothingElse)
{
    const PngCase c = GetParam();
    ASSERT_TRUE(m_gdiplus.Started());
    std::unique_ptr<Gdiplus::Bitmap> bitmap = LoadPngResource(c.id);
    if (c.width == 0) {
        EXPECT_EQ(bitmap, nullptr);
        return;
    }
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetWidth(), c.width);
    EXPECT_EQ(bitmap->GetHeight(), c.height);
    Gdiplus::Color corner;
    ASSERT_EQ(bitmap->GetPixel(0, 0, &corner), Gdiplus::Ok);
    EXPECT_EQ(corner.GetAlpha(), 0) << "the pictures' corners are transparent";
}

INSTANTIATE_TEST_SUITE_P(Resources, LoadPng,
                         ::testing::Values(PngCase{IDB_PNG_CLOSE, 70, 70}, PngCase{IDB_PNG_MINIMISE, 70, 70},
                                           PngCase{IDB_PNG_BACKGROUND, 1600, 896}, PngCase{kMissingPng, 0, 0},
                                           PngCase{IDR_MAINFRAME, 0, 0}));  // an icon, not a PNG

// A parent window for the buttons, big enough to hold one at its fixed place.
class ButtonParent {
public:
    ButtonParent()
        : m_hWnd(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr, nullptr, nullptr))
    {
    }
    ~ButtonParent() { ::DestroyWindow(m_hWnd); }
    HWND get() const { return m_hWnd; }

private:
    HWND m_hWnd;
};

enum class Mouse { Move, MoveOff, Down, Up, Leave };

void Drive(HWND button, const std::vector<Mouse>& actions)
{
    for (Mouse a : actions) {
        switch (a) {
        case Mouse::Move: ::SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10)); break;
        case Mouse::MoveOff: ::SendMessageW(button, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 10)); break;
        case Mouse::Down: ::SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10)); break;
        case Mouse::Up: ::SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10)); break;
        case Mouse::Leave: ::SendMessageW(button, WM_MOUSELEAVE, 0, 0); break;
        }
    }
}

struct ClickCase {
    const char* name;
    std::vector<Mouse> actions;
    int clicks;
};

class PngButtonClicks : public ::testing::TestWithParam<ClickCase> {
protected:
    GdiplusSession m_gdiplus;
    ButtonParent m_parent;
};

TEST_P(PngButtonClicks, CallbackRunsOnEveryLeftButtonRelease)
{
    const ClickCase& c = GetParam();
    CPngButton button;
    int clicks = 0;
    button.m_onClick = [&] { ++clicks; };
    HWND hwnd = button.Create(10, m_parent.get(), 101, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE);
    ASSERT_NE(hwnd, nullptr);
    Drive(hwnd, c.actions);
    EXPECT_EQ(clicks, c.clicks) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, PngButtonClicks,
    ::testing::Values(ClickCase{"press and release", {Mouse::Move, Mouse::Down, Mouse::Up}, 1},
                      ClickCase{"press, slide off, release", {Mouse::Down, Mouse::MoveOff, Mouse::Leave, Mouse::Up}, 1},
                      ClickCase{"press only", {Mouse::Move, Mouse::Down, Mouse::MoveOff}, 0},
                      ClickCase{"release arriving alone", {Mouse::Up}, 1}),
    [](const ::testing::TestParamInfo<ClickCase>& info) { return "case" + std::to_string(info.index); });

// What reaches a button of a player's two quick clicks: the system makes the second press a
// double click for a class with CS_DBLCLKS, so only real input through the system's queue shows
// it (messages sent to the button never become double clicks).
std::vector<UINT> g_buttonMessages;
WNDPROC g_buttonProc = nullptr;

LRESULT CALLBACK RecordButtonMessages(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK || msg == WM_LBUTTONUP) g_buttonMessages.push_back(msg);
    return ::CallWindowProcW(g_buttonProc, hwnd, msg, wParam, lParam);
}

TEST(PngButton, TwoQuickClicksArriveAsTwoPressesAndClickTwice)
{
    GdiplusSession gdiplus;
    // The "BUTTON" class as the system has it, with double clicks: the button must take them off.
    HWND probe = ::CreateWindowExW(0, L"BUTTON", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ::SetClassLongPtrW(probe, GCL_STYLE, ::GetClassLongPtrW(probe, GCL_STYLE) | CS_DBLCLKS);
    ::DestroyWindow(probe);

    HWND parent = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 400, nullptr,
                                    nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent);
    CPngButton button;
    int clicks = 0;
    button.m_onClick = [&] { ++clicks; };
    HWND hwnd = button.Create(10, parent, 101, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE);
    ASSERT_NE(hwnd, nullptr);
    g_buttonMessages.clear();
    g_buttonProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordButtonMessages)));
    ::SetForegroundWindow(parent);
    ::UpdateWindow(parent);

    POINT at{10 + 35, 267 + 35};
    ::ClientToScreen(parent, &at);
    ::SetCursorPos(at.x, at.y);
    INPUT clicksIn[4] = {};
    const DWORD flags[4] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 4; ++i) {
        clicksIn[i].type = INPUT_MOUSE;
        clicksIn[i].mi.dwFlags = flags[i];
    }
    ASSERT_EQ(::SendInput(4, clicksIn, sizeof(INPUT)), 4u);
    const DWORD start = ::GetTickCount();
    MSG msg;
    while (g_buttonMessages.size() < 4 && ::GetTickCount() - start < 10000) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(10);
    }
    const std::vector<UINT> pressed = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP};
    EXPECT_EQ(g_buttonMessages, pressed);
    EXPECT_EQ(clicks, 2);
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_buttonProc));
    ::DestroyWindow(parent);
}

TEST(PngButton, ButtonsProduceNoDoubleClicks)
{
    GdiplusSession gdiplus;
    ButtonParent parent;
    CPngButton button;
    HWND hwnd = button.Create(10, parent.get(), 101, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(::GetClassLongPtrW(hwnd, GCL_STYLE) & CS_DBLCLKS, 0u);
    // The class is shared: a button made afterwards has no double clicks either.
    HWND other = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 0, 0, 10, 10, parent.get(), nullptr, nullptr, nullptr);
    EXPECT_EQ(::GetClassLongPtrW(other, GCL_STYLE) & CS_DBLCLKS, 0u);
}

struct PictureCase {
    UINT normal, pressed, hover, disabled;
    bool disable;
    std::vector<Mouse> actions;
    UINT shown;  // the picture expected on screen, kMissingPng for "nothing painted"
};

class PngButtonPictures : public ::testing::TestWithParam<PictureCase> {
protected:
    GdiplusSession m_gdiplus;
    ButtonParent m_parent;
};

TEST_P(PngButtonPictures, PaintsThePictureOfItsState)
{
    const PictureCase& c = GetParam();
    CPngButton button;
    HWND hwnd = button.Create(10, m_parent.get(), 101, c.normal, c.pressed, c.hover, c.disabled);
    ASSERT_NE(hwnd, nullptr);
    if (c.disable) ::EnableWindow(hwnd, FALSE);
    Drive(hwnd, c.actions);

    constexpr COLORREF kMarker = RGB(1, 2, 3);
    PixelSurface surface(CPngButton::kSize, CPngButton::kSize, kMarker);
    ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT);
    // (35, 42) lies on the minimise picture's bar and inside the close picture's ring, off its
    // cross: the two pictures differ there.
    COLORREF expected = kMarker;
    if (c.shown != kMissingPng) {
        std::unique_ptr<Gdiplus::Bitmap> picture = LoadPngResource(c.shown);
        ASSERT_NE(picture, nullptr);
        Gdiplus::Color pixel;
        picture->GetPixel(35, 42, &pixel);
        expected = RGB(pixel.GetR(), pixel.GetG(), pixel.GetB());
    }
    EXPECT_EQ(surface.Pixel(35, 42), expected);
}

constexpr UINT C = IDB_PNG_CLOSE;
constexpr UINT M = IDB_PNG_MINIMISE;
INSTANTIATE_TEST_SUITE_P(
    States, PngButtonPictures,
    ::testing::Values(PictureCase{C, C, C, M, false, {}, C},                                   // normal
                      PictureCase{C, C, M, C, false, {Mouse::Move}, M},                        // hover
                      PictureCase{C, C, M, C, false, {Mouse::Move, Mouse::Leave}, C},          // left again
                      PictureCase{C, M, C, C, false, {Mouse::Move, Mouse::Down}, M},           // pressed
                      PictureCase{C, C, C, M, true, {Mouse::Move, Mouse::Down}, M},            // disabled wins
                      PictureCase{C, M, M, M, true, {}, M},
                      PictureCase{kMissingPng, C, C, C, false, {}, kMissingPng}));             // paints nothing

TEST(PngButton, ReEnabledButtonShowsItsNormalPictureAgain)
{
    GdiplusSession gdiplus;
    ButtonParent parent;
    CPngButton button;
    HWND hwnd = button.Create(10, parent.get(), 101, C, C, C, M);
    ::EnableWindow(hwnd, FALSE);
    ::EnableWindow(hwnd, TRUE);
    PixelSurface surface(CPngButton::kSize, CPngButton::kSize, RGB(1, 2, 3));
    ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc()), PRF_CLIENT);
    std::unique_ptr<Gdiplus::Bitmap> close = LoadPngResource(C);
    Gdiplus::Color pixel;
    close->GetPixel(35, 42, &pixel);
    EXPECT_EQ(surface.Pixel(35, 42), RGB(pixel.GetR(), pixel.GetG(), pixel.GetB()));
}

}  // namespace
