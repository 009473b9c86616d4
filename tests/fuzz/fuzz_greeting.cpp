// The TCP Greeting reader fed the same bytes cut into reads of every size:
// the Greetings it finds must not depend on where the cuts fall, and must be
// exactly the four-byte records that begin with FF FF.
//
// Input: the first byte seeds the cuts; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/GreetingReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    std::uint32_t seed = data[0];
    const std::uint8_t* stream = data + 1;
    int length = static_cast<int>(size - 1);

    // What the stream holds, worked out on its own.
    std::vector<std::int16_t> expected;
    for (int at = 0; at + 4 <= length; at += 4)
        if (stream[at] == 0xFF && stream[at + 1] == 0xFF)
            expected.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(stream[at + 2] | (stream[at + 3] << 8))));

    // Byte by byte: every Greeting is seen on its own.
    GreetingReader single;
    std::vector<std::int16_t> found;
    for (int i = 0; i < length; ++i) {
        std::int16_t id = 0;
        if (single.Feed(stream + i, 1, id)) found.push_back(id);
    }
    if (found != expected || single.Held() != length % 4) std::abort();

    // Reads of varying sizes: each read reports the last Greeting it completed.
    GreetingReader cut;
    std::size_t completed = 0;
    for (int at = 0; at < length;) {
        seed = seed * 1103515245u + 12345u;
        int chunk = 1 + static_cast<int>((seed >> 16) % 9);
        if (chunk > length - at) chunk = length - at;
        std::size_t before = (static_cast<std::size_t>(at) / 4);
        std::size_t after = static_cast<std::size_t>(at + chunk) / 4;
        // Greetings among the records completed by this read.
        std::size_t last = completed;
        bool any = false;
        for (std::size_t r = before; r < after; ++r) {
            const std::uint8_t* record = stream + r * 4;
            if (record[0] == 0xFF && record[1] == 0xFF) {
                any = true;
                last = completed++;
            }
        }
        std::int16_t id = 0;
        bool got = cut.Feed(stream + at, chunk, id);
        if (got != any || (any && id != expected[last])) std::abort();
        at += chunk;
    }
    return 0;
}
