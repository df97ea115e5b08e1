#include "toolkit/fonts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Each face is looked up once: the same request gets the very same answer back.
TEST(FaceResolver, ResolvesEachFaceOnceAndFallsBackByKind) {
    toolkit::FaceResolver faces;
    const std::wstring tahoma = L"Tahoma";  // another pointer to the same name
    const wchar_t* first = faces.Resolve(L"Tahoma");
    EXPECT_EQ(faces.Resolve(tahoma.c_str()), first);
    EXPECT_STREQ(first, L"Tahoma") << "the test prefix has Wine's Tahoma";

    // Arial Narrow is absent here: a metric-compatible narrow face stands in.
    EXPECT_STREQ(faces.Resolve(L"Arial Narrow"), L"Liberation Sans Narrow");
    // A face with no kind known is left to the font mapper.
    EXPECT_STREQ(faces.Resolve(L"No Such Face"), L"No Such Face");
}

TEST(FontFromLayout, ScalesTheEmHeightToTheDpi) {
    toolkit::FaceResolver faces;
    const toolkit::FontLayout layout{.face = L"Tahoma", .height = 11, .bold = true};
    for (const auto& [dpi, em] : {std::pair{96, 11}, std::pair{120, 14}, std::pair{144, 17}, std::pair{192, 22}}) {
        const toolkit::FontHandle font = toolkit::CreateFontFrom(layout, dpi, faces);
        LOGFONTW described{};
        GetObjectW(font.get(), sizeof described, &described);
        EXPECT_EQ(described.lfHeight, -em) << dpi << " dpi";
        EXPECT_EQ(described.lfWeight, FW_BOLD);
        EXPECT_STREQ(described.lfFaceName, L"Tahoma");
    }
}

}  // namespace
