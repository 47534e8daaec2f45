#pragma once

#include "platform/win32_api.h"
#include "text_string.h"

// The text of a registry value, or an empty string when the key cannot be
// opened or the value cannot be read (also when it needs more than 256
// bytes). An empty value name reads the key's unnamed default value. When
// `status` is given, it receives why the text is empty: the result of the
// open or of the query (ERROR_MORE_DATA for a value too long).
TextString ReadRegistryString(HKEY root, const char* subKey, const char* valueName,
                              LONG* status = nullptr);
