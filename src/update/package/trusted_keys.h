// The public keys that this build of Update.exe trusts, built in from the
// file that the CMake option UPDATE_TRUSTED_KEYS names
// (cmake/trusted_keys_source.cmake writes their source). A build without
// the option has none. Nothing at run time adds or changes a key.
#pragma once

#include <cstdint>

#include "manifest_signature.h"

// The keys, and their number in `count` (0: a build without keys, then
// null).
const PublicKeyDer* TrustedKeys(std::uint32_t& count);
