// Alone in its file: a test build links a definition of its own instead.
#include "toolkit/system_libraries.h"

namespace toolkit {

DllSearch FindDllSearch() {
    return {FindSystemFunction<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories")};
}

}  // namespace toolkit
