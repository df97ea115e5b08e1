#include "toolkit/fonts.h"

#include "toolkit/errors.h"
#include "toolkit/stage_scope.h"

#include <cwchar>
#include <initializer_list>

namespace toolkit {

namespace {

struct Substitute {
    const wchar_t* face;
    std::initializer_list<const wchar_t*> alternatives;
};

// Metric-compatible faces first, then the nearest common family.
const Substitute kSubstitutes[] = {
    {L"Arial Narrow", {L"Liberation Sans Narrow", L"Nimbus Sans Narrow", L"Arial", L"Liberation Sans"}},
    {L"Tahoma", {L"Verdana", L"DejaVu Sans", L"Liberation Sans"}},
};

int CALLBACK NoteFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool IsInstalled(const wchar_t* face) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(query.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    ScreenDc screen;
    EnumFontFamiliesExW(screen.get(), &query, NoteFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

const wchar_t* FindFace(const wchar_t* face) {
    if (IsInstalled(face)) return face;
    for (const auto& substitute : kSubstitutes) {
        if (wcscmp(substitute.face, face) != 0) continue;
        for (const wchar_t* alternative : substitute.alternatives) {
            if (IsInstalled(alternative)) return alternative;
        }
    }
    return face;  // let the font mapper choose
}

}  // namespace

const wchar_t* FaceResolver::Resolve(const wchar_t* face) {
    for (const auto& [requested, used] : resolved_) {
        if (wcscmp(requested, face) == 0) return used;
    }
    return resolved_.emplace_back(face, FindFace(face)).second;
}

FontHandle CreateFontFrom(const FontLayout& layout, int dpi, FaceResolver& faces) {
    StageScope stage("font");
    LOGFONTW font{};
    font.lfHeight = -ScaleToDpi(layout.height, dpi);
    font.lfWeight = layout.bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = layout.italic;
    font.lfCharSet = layout.charset;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    wcsncpy(font.lfFaceName, faces.Resolve(layout.face), LF_FACESIZE - 1);
    FontHandle handle(CreateFontIndirectW(&font));
    Check(static_cast<bool>(handle), "CreateFontIndirect");
    return handle;
}

}  // namespace toolkit
