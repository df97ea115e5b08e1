#pragma once
#include "toolkit/handles.h"
#include "toolkit/layout.h"

#include <string>

namespace toolkit {

// The face that will really be used for `face`: itself when installed,
// otherwise the first installed face of the same kind.
std::wstring ResolveFace(const wchar_t* face);

FontHandle CreateFontFrom(const FontSpec& design);

}  // namespace toolkit
