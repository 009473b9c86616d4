// Finds the peer's Greetings in the bytes of its TCP connection, however the
// connection splits them into reads.
//
// The peer sends nothing on that connection but Greetings, four bytes each
// (FF FF, then the slot number as a 16-bit little-endian word), so the
// stream is read as four-byte records from its first byte. A record that
// does not begin with FF FF is not a Greeting and is passed over. A new
// connection starts a new stream: call Reset.
//
// Plain data, no I/O; used on the thread that reads the connection.
#pragma once

#include <cstdint>

class GreetingReader {
public:
    static constexpr int RecordSize = 4;

    // Takes the next bytes of the stream. True when they completed at least
    // one Greeting; id is then the slot number of the last one completed.
    bool Feed(const std::uint8_t* bytes, int count, std::int16_t& id);
    // Forgets a partly read record.
    void Reset() { held_ = 0; }
    // Bytes of an unfinished record (0 to 3).
    int Held() const { return held_; }

private:
    std::uint8_t record_[RecordSize] = {};
    int held_ = 0;
};
