#include "package_entries.h"

#include "entry_name.h"
#include "package_names.h"

namespace package_entries {

bool IsProgram(const char* name) {
    return lstrcmpiA(name, package_names::kOwnFileName) == 0;
}

DWORD RefusalOf(const char* name, const NameClashes& clashes) {
    return !IsWindowsFileName(name) ? ERROR_INVALID_NAME
           : clashes.Holds(name)    ? ERROR_ALREADY_EXISTS
                                    : ERROR_SUCCESS;
}

} // namespace package_entries
