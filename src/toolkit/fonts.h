#pragma once
#include "toolkit/handles.h"
#include "toolkit/layout.h"

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace toolkit {

// The face a font is really drawn in, and how wide: a wider face standing in
// for a narrow one is drawn condensed to the narrow one's widths.
struct Face {
    const wchar_t* name;
    int widthPercent = 100;
};

bool IsFaceInstalled(const wchar_t* face);

// Finds the face that will really be used for a requested one: itself when
// installed, otherwise the first installed face of the same kind. Each face
// is looked up once; later requests for it are answered from memory.
class FaceResolver {
public:
    using Installed = std::function<bool(const wchar_t* face)>;
    explicit FaceResolver(Installed installed = IsFaceInstalled) : installed_(std::move(installed)) {}

    // The face, or a substitute; its name is valid as long as `face` is.
    Face Resolve(const wchar_t* face);

private:
    Face Find(const wchar_t* face) const;
    Installed installed_;
    std::vector<std::pair<const wchar_t*, Face>> resolved_;  // requested, used
};

// A layout's font as created at some DPI.
struct Font {
    FontHandle handle;
    int em = 0;              // pixels
    int widthPercent = 100;  // of the face's own widths
    FontHandle design;       // the face at its design size, where it is drawn condensed
};

// The layout's font at `dpi`: its em height scaled, its face resolved.
Font CreateFontFrom(const FontLayout& layout, int dpi, FaceResolver& faces);

// Where the font is drawn condensed, the advance of each character of `text`
// at the condensed widths, for ExtTextOut; empty where the font is drawn at
// its own widths.
std::vector<int> CondensedAdvances(HDC dc, const Font& font, std::wstring_view text);

}  // namespace toolkit
