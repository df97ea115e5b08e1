// What the bed promises every other test, checked from inside Wine: a
// Brazilian Windows 10 without Office, classic controls for an exe that asks
// for no visual styles, the scheme's colours, and a narrow face only where
// Office would bring one. VELQUOR_E2E_BED names the bed.
#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class Bed : public testing::Test {
protected:
    void SetUp() override {
        const char* name = getenv("VELQUOR_E2E_BED");
        bed_ = name ? name : "";
        ASSERT_TRUE(bed_ == "base" || bed_ == "office" || bed_ == "high-contrast")
            << "VELQUOR_E2E_BED: '" << bed_ << "'";
    }
    std::string bed_;
};

TEST_F(Bed, SpeaksBrazilianPortugueseInCodePage1252) {
    const LANGID brazilian = MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN);
    EXPECT_EQ(GetUserDefaultUILanguage(), brazilian);
    EXPECT_EQ(LANGIDFROMLCID(GetUserDefaultLCID()), brazilian);
    EXPECT_EQ(LANGIDFROMLCID(GetSystemDefaultLCID()), brazilian);
    EXPECT_EQ(GetACP(), 1252u);
    // Windows and Wine both say the file was "não" found, with its accent.
    wchar_t message[256] = {};
    ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND,
                             0, message, 256, nullptr),
              0u);
    EXPECT_NE(std::wstring(message).find(L"n\u00e3o"), std::wstring::npos);
}

// This driver has no manifest, so it gets the common controls that the
// launcher gets: version 5, which Windows never themes.
TEST_F(Bed, DrawsCommonControlsUnthemed) {
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetWindowTheme(bar), nullptr);
    EXPECT_TRUE(GetWindowLongW(bar, GWL_EXSTYLE) & WS_EX_STATICEDGE) << "the classic bar's edge";
    DestroyWindow(bar);
}

struct SchemeColour {
    int index;
    const char* name;
    COLORREF windows10, highContrastBlack;
};

TEST_F(Bed, HasTheSchemesColours) {
    const SchemeColour colours[] = {
        {COLOR_WINDOW, "window", RGB(255, 255, 255), RGB(0, 0, 0)},
        {COLOR_WINDOWTEXT, "window text", RGB(0, 0, 0), RGB(255, 255, 255)},
        {COLOR_BTNFACE, "button face", RGB(240, 240, 240), RGB(0, 0, 0)},
        {COLOR_BTNTEXT, "button text", RGB(0, 0, 0), RGB(255, 255, 255)},
        {COLOR_BTNHIGHLIGHT, "button highlight", RGB(255, 255, 255), RGB(255, 255, 255)},
        {COLOR_BTNSHADOW, "button shadow", RGB(160, 160, 160), RGB(255, 255, 255)},
        {COLOR_HIGHLIGHT, "highlight", RGB(0, 120, 215), RGB(26, 235, 255)},
        {COLOR_HIGHLIGHTTEXT, "highlight text", RGB(255, 255, 255), RGB(0, 0, 0)},
        {COLOR_GRAYTEXT, "grey text", RGB(109, 109, 109), RGB(63, 242, 63)},
    };
    const bool highContrast = bed_ == "high-contrast";
    for (const SchemeColour& c : colours)
        EXPECT_EQ(GetSysColor(c.index), highContrast ? c.highContrastBlack : c.windows10) << c.name;
}

int CALLBACK CountFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return 1;
}

int FacesNamed(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    HDC screen = GetDC(nullptr);
    int count = 0;
    EnumFontFamiliesExW(screen, &wanted, CountFace, reinterpret_cast<LPARAM>(&count), 0);
    ReleaseDC(nullptr, screen);
    return count;
}

TEST_F(Bed, HasANarrowFaceOnlyWithOffice) {
    const int narrow =
        FacesNamed(L"Arial Narrow") + FacesNamed(L"Liberation Sans Narrow") + FacesNamed(L"Nimbus Sans Narrow");
    if (bed_ == "office")
        EXPECT_GT(narrow, 0) << "Office's Arial Narrow, or its metric twin";
    else
        EXPECT_EQ(narrow, 0) << "a Windows without Office has no narrow face";
}

TEST_F(Bed, HasTahoma) { EXPECT_GT(FacesNamed(L"Tahoma"), 0); }

}  // namespace
