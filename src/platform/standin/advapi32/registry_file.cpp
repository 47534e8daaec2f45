#include "registry_file.h"

#include <cstdio>
#include <cstdlib>

void RegistryFilePath(char* path, std::size_t size) {
    const char* chosen = std::getenv("UPDATE_REGISTRY_FILE");
    if (chosen != nullptr && chosen[0] != '\0') {
        std::snprintf(path, size, "%s", chosen);
        return;
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] != '\0') {
        std::snprintf(path, size, "%s/brenvolt-update/registry.reg", config);
        return;
    }
    const char* home = std::getenv("HOME");
    std::snprintf(path, size, "%s/.config/brenvolt-update/registry.reg",
                  home != nullptr ? home : "");
}
