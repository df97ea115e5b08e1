#include "toolkit/fonts.h"

#include "toolkit/errors.h"
#include "toolkit/stage_scope.h"

#include <algorithm>
#include <cmath>
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

namespace {

// Where each character of `text` starts and ends, and where its ink does.
struct Placement {
    std::vector<int> starts;  // of the pen, at the face's own advances
    std::vector<ABC> ink;     // A: from the pen to the ink, B: the ink's width
    int end = 0;
};

Placement Place(HDC dc, HFONT font, std::wstring_view text) {
    Selection selected(dc, font);
    Placement placement{std::vector<int>(text.size()), std::vector<ABC>(text.size())};
    std::vector<int> ends(text.size());
    SIZE whole{};
    GetTextExtentExPointW(dc, text.data(), static_cast<int>(text.size()), 0, nullptr, ends.data(), &whole);
    for (size_t i = 0; i < text.size(); ++i) {
        placement.starts[i] = i ? ends[i - 1] : 0;
        if (!GetCharABCWidthsW(dc, text[i], text[i], &placement.ink[i])) {
            placement.ink[i] = {0, static_cast<UINT>(ends[i] - placement.starts[i]), 0};
        }
    }
    placement.end = ends.back();
    return placement;
}

}  // namespace

// The narrow face's widths, to the pixel: its design widths at the condensed
// percentage. Each condensed glyph's ink follows the one before by the gap
// the narrow face leaves between their inks, and what the line then lacks or
// has over its width is shared out evenly. Placed by the design widths alone,
// a glyph that hinting draws narrower than the percentage (an "M" at small
// sizes) would leave all of the difference as a hole after it.
std::vector<int> CondensedAdvances(HDC dc, const Font& font, std::wstring_view text) {
    if (font.widthPercent == 100 || text.empty()) return {};
    const Placement design = Place(dc, font.design.get(), text);
    const Placement condensed = Place(dc, font.handle.get(), text);
    const double scale = static_cast<double>(font.em) * font.widthPercent / (kDesignEm * 100.0);
    const int line = static_cast<int>(std::lround(design.end * scale));
    const size_t count = text.size();
    std::vector<double> pens(count + 1, 0.0);  // the first character starts where the label does
    for (size_t i = 1; i < count; ++i) {
        const ABC& before = condensed.ink[i - 1];
        const double gap = (design.ink[i - 1].abcC + design.ink[i].abcA) * scale;
        pens[i] = pens[i - 1] + before.abcA + static_cast<int>(before.abcB) + gap - condensed.ink[i].abcA;
    }
    const ABC& last = condensed.ink[count - 1];
    const double natural =
        pens[count - 1] + last.abcA + static_cast<int>(last.abcB) + design.ink[count - 1].abcC * scale;
    std::vector<int> advances(count);
    int previous = 0;
    for (size_t i = 0; i < count; ++i) {
        const double spread = (line - natural) * static_cast<double>(i + 1) / static_cast<double>(count);
        const int end = i + 1 == count ? line : static_cast<int>(std::lround(pens[i + 1] + spread));
        advances[i] = std::max(end, previous) - previous;
        previous += advances[i];
    }
    return advances;
}

}  // namespace toolkit
