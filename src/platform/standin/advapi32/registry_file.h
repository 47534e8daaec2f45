#pragma once

#include <cstddef>

// Where the registry file lies: $UPDATE_REGISTRY_FILE, or else
// $XDG_CONFIG_HOME/brenvolt-update/registry.reg, with $HOME/.config in
// place of an unset XDG_CONFIG_HOME.
void RegistryFilePath(char* path, std::size_t size);
