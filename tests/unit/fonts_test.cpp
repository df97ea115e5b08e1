#include "toolkit/fonts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using toolkit::Face;
using toolkit::FaceResolver;

// Each face is looked up once: the same request gets the very same answer back.
TEST(FaceResolver, LooksEachFaceUpOnce) {
    int lookups = 0;
    FaceResolver faces([&](const wchar_t*) { return ++lookups, true; });
    const std::wstring tahoma = L"Tahoma";  // another pointer to the same name
    const Face first = faces.Resolve(L"Tahoma");
    EXPECT_EQ(faces.Resolve(tahoma.c_str()).name, first.name);
    EXPECT_EQ(lookups, 1);
}

struct SubstituteCase {
    const char* machine;
    std::set<std::wstring> installed;
    const wchar_t* requested;
    const wchar_t* used;
    int widthPercent;
};

const SubstituteCase kSubstituteCases[] = {
    {"with Office", {L"Arial Narrow", L"Arial", L"Tahoma"}, L"Arial Narrow", L"Arial Narrow", 100},
    {"Debian's metric twin",
     {L"Liberation Sans Narrow", L"Liberation Sans"},
     L"Arial Narrow",
     L"Liberation Sans Narrow",
     100},
    {"URW's narrow face", {L"Nimbus Sans Narrow", L"Arial"}, L"Arial Narrow", L"Nimbus Sans Narrow", 100},
    {"Windows without Office", {L"Arial", L"Tahoma", L"Liberation Sans"}, L"Arial Narrow", L"Arial", 82},
    {"only Arial's twin", {L"Liberation Sans"}, L"Arial Narrow", L"Liberation Sans", 82},
    {"no face of the kind", {L"Courier New"}, L"Arial Narrow", L"Arial Narrow", 100},
    {"Windows' Tahoma", {L"Tahoma", L"Verdana"}, L"Tahoma", L"Tahoma", 100},
    {"no Tahoma", {L"Verdana", L"Liberation Sans"}, L"Tahoma", L"Verdana", 100},
    {"a face of no known kind", {L"Arial"}, L"No Such Face", L"No Such Face", 100},
};

TEST(FaceResolver, TakesTheFirstInstalledFaceOfTheKindAndCondensesAWiderOne) {
    for (const SubstituteCase& c : kSubstituteCases) {
        FaceResolver faces([&](const wchar_t* face) { return c.installed.count(face) > 0; });
        const Face used = faces.Resolve(c.requested);
        EXPECT_STREQ(used.name, c.used) << c.machine;
        EXPECT_EQ(used.widthPercent, c.widthPercent) << c.machine;
    }
}

TEST(FontFromLayout, ScalesTheEmHeightToTheDpi) {
    FaceResolver faces;
    const toolkit::FontLayout layout{.face = L"Tahoma", .height = 11, .bold = true};
    for (const auto& [dpi, em] : {std::pair{96, 11}, std::pair{120, 14}, std::pair{144, 17}, std::pair{192, 22}}) {
        const toolkit::Font font = toolkit::CreateFontFrom(layout, dpi, faces);
        LOGFONTW described{};
        GetObjectW(font.handle.get(), sizeof described, &described);
        EXPECT_EQ(described.lfHeight, -em) << dpi << " dpi";
        EXPECT_EQ(described.lfWidth, 0) << dpi << " dpi";
        EXPECT_EQ(described.lfWeight, FW_BOLD);
        EXPECT_STREQ(described.lfFaceName, L"Tahoma") << "the test prefix has Wine's Tahoma";
    }
}

}  // namespace
