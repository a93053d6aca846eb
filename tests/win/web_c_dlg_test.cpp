// The main launcher window's progress area: which texts the progress reports leave in the
// phase label, the detail text and the status line, and which controls are shown.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/web_c_dlg.h"

namespace {

std::wstring Text(HWND dialog, int id)
{
    wchar_t buf[256] = {};
    ::GetDlgItemTextW(dialog, id, buf, 256);
    return buf;
}

bool Shown(HWND dialog, int id) { return (::GetWindowLongPtrW(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }

struct Report {
    const wchar_t* status;
    const wchar_t* detail;
    int percent;
    int downloading;
    // What the window shows afterwards.
    const wchar_t* phase;
    const wchar_t* shownDetail;
};

TEST(CWebCDlg, EachPhaseNamesItselfOnceAndTheDetailFollowsThePercent)
{
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND hwnd = dlg.GetSafeHwnd();
    const std::vector<Report> reports = {
        {L"", L"1%", 1, 1, L"正在下载：", L"1%"},
        {L"", L"ignored", 1, 1, L"正在下载：", L"1%"},  // same percent: detail unchanged
        {L"", L"7%", 7, 1, L"正在下载：", L"7%"},
        {L"", L"1/3", 33, 0, L"正在解压：", L"1/3"},
        {L"", L"", 40, 1, L"正在解压：", L""},  // the download label is not set a second time
        {L"更新已完成", L"kept", 40, 0, L"正在解压：", L""},
    };
    for (size_t i = 0; i < reports.size(); ++i) {
        const Report& r = reports[i];
        dlg.UpdateProgress(r.status, r.detail, r.percent, r.downloading);
        EXPECT_EQ(Text(hwnd, IDC_PHASE_LABEL), r.phase) << "report " << i;
        EXPECT_EQ(Text(hwnd, IDC_DETAIL_TEXT), r.shownDetail) << "report " << i;
        EXPECT_EQ(Text(hwnd, IDC_STATUS_LINE), r.status) << "report " << i;
        EXPECT_EQ(::SendDlgItemMessageW(hwnd, IDC_PROGRESS, PBM_GETPOS, 0, 0), r.percent) << "report " << i;
    }
}

TEST(CWebCDlg, UnpackingFirstThenDownloadingNamesBothPhases)
{
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    dlg.UpdateProgress(L"", L"", 0, 0);
    EXPECT_EQ(Text(dlg.GetSafeHwnd(), IDC_PHASE_LABEL), L"正在解压：");
    dlg.UpdateProgress(L"", L"", 0, 1);
    EXPECT_EQ(Text(dlg.GetSafeHwnd(), IDC_PHASE_LABEL), L"正在下载：");
}

TEST(CWebCDlg, ProgressControlsAndStatusLineAreNeverShownTogether)
{
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    HWND hwnd = dlg.GetSafeHwnd();
    const int progressArea[] = {IDC_PROGRESS, IDC_PHASE_LABEL, IDC_DETAIL_TEXT};
    for (int id : progressArea) EXPECT_FALSE(Shown(hwnd, id)) << id << " after initialisation";
    EXPECT_FALSE(Shown(hwnd, IDC_STATUS_LINE));
    for (bool show : {true, false, true}) {
        dlg.ShowProgressControls(show);
        for (int id : progressArea) EXPECT_EQ(Shown(hwnd, id), show) << id;
        EXPECT_EQ(Shown(hwnd, IDC_STATUS_LINE), !show);
    }
    // A report with a new percent hides the detail until the caller shows the area again.
    dlg.UpdateProgress(L"", L"9%", 9, 1);
    EXPECT_FALSE(Shown(hwnd, IDC_DETAIL_TEXT));
}

TEST(CWebCDlg, PureBlackIsTheWindowsColourKey)
{
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    COLORREF key = 1;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(dlg.GetSafeHwnd(), &key, &alpha, &flags));
    EXPECT_EQ(key, RGB(0, 0, 0));
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_COLORKEY));
}

// The player's Chinese texts are drawn with real glyphs, never the font's empty boxes: in the
// font the text controls paint with (the paint context's own, the system font) and in the
// dialog's "MS Shell Dlg".
std::wstring FontFace(HDC dc)
{
    wchar_t face[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, face);
    return face;
}

std::wstring MissingGlyphs(HDC dc, const std::wstring& text)
{
    std::vector<WORD> glyphs(text.size());
    if (::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                           GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR)
        return L"(no glyph indices)";
    std::wstring missing;
    for (size_t i = 0; i < text.size(); ++i)
        if (glyphs[i] == 0xFFFF) missing += text[i];
    return missing;
}

TEST(CWebCDlg, ChineseTextsHaveGlyphsInTheFontsTheyArePaintedWith)
{
    CWebCDlg dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    const std::wstring texts[] = {L"正在下载：", L"正在解压：", L"正在更新......", L"更新已完成",
                                  L"更新失败,请检查网络:104", L"解压失败"};
    HWND label = ::GetDlgItem(dlg.GetSafeHwnd(), IDC_PHASE_LABEL);
    HDC dc = ::GetDC(label);
    ASSERT_TRUE(dc);
    for (const std::wstring& text : texts)
        EXPECT_EQ(MissingGlyphs(dc, text), L"") << "in the system font " << ::testing::PrintToString(FontFace(dc));

    HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(dlg.GetSafeHwnd(), WM_GETFONT, 0, 0)));
    for (const std::wstring& text : texts)
        EXPECT_EQ(MissingGlyphs(dc, text), L"") << "in the dialog's font " << ::testing::PrintToString(FontFace(dc));
    ::SelectObject(dc, previous);
    ::ReleaseDC(label, dc);
}

}  // namespace
