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

}  // namespace
