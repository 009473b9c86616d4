// Feeds arbitrary bytes to the OSC listener's decoder, as if they were one
// received datagram: whatever a sender puts on the wire must be refused or
// read, never read past, and every command that comes out must be one the
// installation can apply.
#include "operator/OscControl.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly `size` bytes, so that any read past the datagram is
    // a read past a heap block, which the address sanitizer reports.
    std::vector<std::uint8_t> datagram(data, data + size);
    const OscControlResult result = DecodeOscControl(datagram.data(), datagram.size());
    for (const ControlRequest& request : result.requests) {
        const bool inRange = std::isfinite(request.value) &&
                             (request.kind != ControlRequest::Kind::Turn || std::fabs(request.value) <= 1.0);
        if (!inRange) std::abort();
    }
    return 0;
}
