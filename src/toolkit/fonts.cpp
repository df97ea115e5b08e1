#include "toolkit/fonts.h"

#include "toolkit/errors.h"
#include "toolkit/stage_scope.h"

#include <cwchar>
#include <initializer_list>

namespace toolkit {

namespace {

struct Substitute {
    const wchar_t* face;
    std::initializer_list<Face> alternatives;
};

// Metric-compatible faces first, then the nearest common family. Arial Narrow
// (an Office font, absent from most Windows PCs) is Arial at 82 % of its
// widths, and so is Liberation Sans Narrow of Liberation Sans.
const Substitute kSubstitutes[] = {
    {L"Arial Narrow", {{L"Liberation Sans Narrow"}, {L"Nimbus Sans Narrow"}, {L"Arial", 82}, {L"Liberation Sans", 82}}},
    {L"Tahoma", {{L"Verdana"}, {L"DejaVu Sans"}, {L"Liberation Sans"}}},
};

// The em a condensed face's advances are taken at: large enough that each
// is its design width, unrounded to a small size's pixels.
constexpr int kDesignEm = 2048;

int CALLBACK NoteFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

FontHandle CreateChecked(const LOGFONTW& font) {
    FontHandle handle(CreateFontIndirectW(&font));
    Check(static_cast<bool>(handle), "CreateFontIndirect");
    return handle;
}

int AverageWidth(HFONT font) {
    ScreenDc screen;
    Selection selected(screen.get(), font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen.get(), &metrics);
    return metrics.tmAveCharWidth;
}

LOGFONTW LogFontFrom(const FontLayout& layout, int dpi, const Face& face) {
    LOGFONTW font{};
    font.lfHeight = -ScaleToDpi(layout.height, dpi);
    font.lfWeight = layout.bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = layout.italic;
    font.lfCharSet = layout.charset;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    wcsncpy(font.lfFaceName, face.name, LF_FACESIZE - 1);
    return font;
}

// The glyphs condensed as near as a whole average width allows; their places
// come from the design widths (CondensedAdvances), to the pixel.
void Condense(Font& created, LOGFONTW font) {
    LOGFONTW design = font;
    design.lfHeight = -kDesignEm;
    created.design = CreateChecked(design);
    font.lfWidth = MulDiv(AverageWidth(created.handle.get()), created.widthPercent, 100);
    created.handle = CreateChecked(font);
}

}  // namespace

bool IsFaceInstalled(const wchar_t* face) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(query.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    ScreenDc screen;
    EnumFontFamiliesExW(screen.get(), &query, NoteFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

Face FaceResolver::Find(const wchar_t* face) const {
    if (installed_(face)) return {face};
    for (const auto& substitute : kSubstitutes) {
        if (wcscmp(substitute.face, face) != 0) continue;
        for (const Face& alternative : substitute.alternatives) {
            if (installed_(alternative.name)) return alternative;
        }
    }
    return {face};  // let the font mapper choose
}

Face FaceResolver::Resolve(const wchar_t* face) {
    for (const auto& [requested, used] : resolved_) {
        if (wcscmp(requested, face) == 0) return used;
    }
    return resolved_.emplace_back(face, Find(face)).second;
}

Font CreateFontFrom(const FontLayout& layout, int dpi, FaceResolver& faces) {
    StageScope stage("font");
    const Face face = faces.Resolve(layout.face);
    const LOGFONTW font = LogFontFrom(layout, dpi, face);
    Font created{CreateChecked(font), -font.lfHeight, face.widthPercent, {}};
    if (face.widthPercent != 100) Condense(created, font);
    return created;
}

std::vector<int> CondensedAdvances(HDC dc, const Font& font, std::wstring_view text) {
    if (font.widthPercent == 100 || text.empty()) return {};
    Selection selected(dc, font.design.get());
    std::vector<int> ends(text.size());  // where each character ends, at the design em
    SIZE whole{};
    GetTextExtentExPointW(dc, text.data(), static_cast<int>(text.size()), 0, nullptr, ends.data(), &whole);
    std::vector<int> advances(text.size());
    const auto scaled = [&](int designX) {
        return static_cast<int>((static_cast<long long>(designX) * font.em * font.widthPercent + kDesignEm * 50) /
                                (kDesignEm * 100LL));
    };
    int previous = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const int end = scaled(ends[i]);
        advances[i] = end - previous;
        previous = end;
    }
    return advances;
}

}  // namespace toolkit
