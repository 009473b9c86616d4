// Feeds arbitrary bytes to the reader of the installation's configuration
// file, as if they were the file on disk.
#include "app/ConfigFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // fmemopen refuses an empty buffer; an empty file is read from /dev/null.
    std::FILE* file = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
    if (file == nullptr) return 0;
    PeerAddress address;
    ReadConfiguration(file, address);
    std::fclose(file);
    // Whatever was read must be a usable value, not a pointer into freed memory.
    volatile std::size_t length = address.host.size();
    (void)length;
    return 0;
}
