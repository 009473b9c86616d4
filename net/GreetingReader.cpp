// Reassembly of the four-byte Greeting records.
#include "net/GreetingReader.h"

bool GreetingReader::Feed(const std::uint8_t* bytes, int count, std::int16_t& id)
{
    bool found = false;
    for (int i = 0; bytes != nullptr && i < count; ++i) {
        record_[held_++] = bytes[i];
        if (held_ < RecordSize) continue;
        held_ = 0;
        if (record_[0] != 0xFF || record_[1] != 0xFF) continue;
        id = static_cast<std::int16_t>(static_cast<std::uint16_t>(record_[2] | (record_[3] << 8)));
        found = true;
    }
    return found;
}
