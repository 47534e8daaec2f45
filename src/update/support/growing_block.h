// One heap block that grows by doubling, for lists that hold many small
// records one after the other (change_list.h, folder_listing.h).
#pragma once

#include <cstdint>

// Makes room for `needed` more bytes after the `size` bytes used of
// `block` (of `capacity` bytes, or null), keeping what it holds. A block
// that would pass 2 GiB ends the program as an exhausted heap does.
void GrowBlock(char*& block, std::uint32_t& capacity, std::uint32_t size, std::uint32_t needed);
