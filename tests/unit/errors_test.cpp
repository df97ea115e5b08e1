#include "toolkit/application.h"
#include "toolkit/errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The system's own words for `code`, straight from the wide API.
std::wstring SystemWords(DWORD code) {
    wchar_t words[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, words, 512, nullptr);
    std::wstring text = words;
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.')) text.pop_back();
    return text;
}

bool HasAccents(const std::wstring& text) {
    for (wchar_t c : text)
        if (c > 0x7F) return true;
    return false;
}

// A Portuguese Windows speaks in accented letters; each must reach the box as
// the system wrote it, whatever the ANSI code page is.
TEST(SystemMessages, ReachTheErrorBoxWhole) {
    ASSERT_TRUE(HasAccents(SystemWords(ERROR_FILE_NOT_FOUND)))
        << "the test bed is a pt-BR Windows, whose message for a missing file has accents";
    toolkit::TApplication application;
    std::vector<std::wstring> shown;
    application.ErrorBox = [&](const std::wstring& message) { shown.push_back(message); };
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_MOD_NOT_FOUND};
    for (DWORD code : codes) {
        application.Guard([code] {
            SetLastError(code);
            toolkit::Check(false, "CreateFile");
        });
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), L"CreateFile: " + SystemWords(code)) << "error " << code;
        EXPECT_EQ(shown.back().find(L'\uFFFD'), std::wstring::npos) << "error " << code;
    }
}

BOOL WINAPI FailingInitialise(const INITCOMMONCONTROLSEX*) { return FALSE; }

// InitCommonControlsEx sets no last error when it fails: the code left there by
// an earlier call, success included, must not be what the user is told.
TEST(CommonControls, AFailureIsNotToldByAStaleError) {
    for (DWORD stale : {DWORD{ERROR_SUCCESS}, DWORD{ERROR_FILE_NOT_FOUND}}) {
        SetLastError(stale);
        try {
            toolkit::RegisterCommonControls(FailingInitialise);
            ADD_FAILURE() << "no error after stale error " << stale;
        } catch (const toolkit::Win32Error& error) {
            EXPECT_NE(error.code(), stale);
            EXPECT_EQ(error.Message().find(SystemWords(stale)), std::wstring::npos)
                << "stale error " << stale << " told as the cause";
            EXPECT_EQ(error.Message().rfind(L"InitCommonControlsEx: ", 0), 0u);
        }
    }
}

// Our own texts are UTF-8; a runtime's message that is not is read in the
// ANSI code page (1252 on a pt-BR Windows), never byte by byte.
TEST(Widen, ReadsUtf8ElseTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u) << "the test bed is a pt-BR Windows";
    struct Case {
        const char* name;
        std::string narrow;
        std::wstring wide;
    };
    const Case cases[] = {
        {"ASCII", "falhou", L"falhou"},
        {"UTF-8", "falhou \xC3\xA0 toa", L"falhou \u00E0 toa"},
        {"UTF-8 beyond Latin-1", "\xE2\x82\xAC 5", L"\u20AC 5"},
        {"code page 1252", "falhou \xE0 toa", L"falhou \u00E0 toa"},
        {"code page 1252 beyond Latin-1", "\x80 5", L"\u20AC 5"},
        {"empty", "", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(toolkit::Widen(c.narrow), c.wide) << c.name;
}

}  // namespace
