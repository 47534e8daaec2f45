#include "volume_space.h"

namespace {

const std::uint64_t kMegabyte = 1048576;

std::uint32_t AtMostDword(std::uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

} // namespace

VolumeSpace ReadVolumeSpace(const TextString& directory) {
    VolumeSpace space;
    ULARGE_INTEGER available;
    space.known = GetDiskFreeSpaceExA(directory.GetText(), &available, nullptr, nullptr) != FALSE;
    if (!space.known) {
        space.error = GetLastError();
        return space;
    }
    space.freeBytes = available.QuadPart;
    // GetDiskFreeSpaceA asks for the root of the volume.
    char root[MAX_PATH + 1];
    DWORD sectors = 0, sectorBytes = 0;
    if (GetVolumePathNameA(directory.GetText(), root, sizeof root) &&
        GetDiskFreeSpaceA(root, &sectors, &sectorBytes, nullptr, nullptr) && sectors != 0 &&
        sectorBytes != 0)
        space.clusterBytes = AtMostDword(static_cast<std::uint64_t>(sectors) * sectorBytes);
    return space;
}

std::uint32_t MegabytesUp(std::uint64_t bytes) {
    return AtMostDword(bytes / kMegabyte + (bytes % kMegabyte != 0));
}

std::uint32_t MegabytesDown(std::uint64_t bytes) {
    return AtMostDword(bytes / kMegabyte);
}
