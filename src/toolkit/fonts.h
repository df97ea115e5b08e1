#pragma once
#include "toolkit/handles.h"
#include "toolkit/layout.h"

#include <utility>
#include <vector>

namespace toolkit {

// Finds the face that will really be used for a requested one: itself when
// installed, otherwise the first installed face of the same kind. Each face
// is looked up once; later requests for it are answered from memory.
class FaceResolver {
public:
    // The face's name, or a substitute's; valid as long as `face` is.
    const wchar_t* Resolve(const wchar_t* face);

private:
    std::vector<std::pair<const wchar_t*, const wchar_t*>> resolved_;  // requested, used
};

// The layout's font at `dpi`: its em height scaled, its face resolved.
FontHandle CreateFontFrom(const FontLayout& layout, int dpi, FaceResolver& faces);

}  // namespace toolkit
