#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/ConfigFile.h"

namespace {

PeerAddress Read(const std::string& text)
{
    std::FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    PeerAddress address;
    ReadConfiguration(file, address);
    std::fclose(file);
    return address;
}

// Where the peer is, file by file.
TEST(ConfigFile, HostAndPortComeFromTheExactKeys)
{
    struct Case {
        const char* what;
        const char* text;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"defaults when the keys are absent", "nothing here\n", "localhost", 1000},
        {"a port alone keeps the default host", "[Port]\n2000\n", "localhost", 2000},
        // The line after a non-key is an ordinary line, so "[Port]" there still counts.
        {"keys must match exactly", "[ip]\n[Port]\n3000\n [IP]\n10.0.0.1\n[IP] \nhost\n", "localhost", 3000},
        {"the last key wins and CR LF ends a line", "[IP]\r\nfirst\r\n[IP]\r\nsecond\r\n[Port]\r\n1234\r\n", "second",
         1234},
    };
    for (const Case& c : cases) {
        PeerAddress address = Read(c.text);
        EXPECT_EQ(address.host, c.host) << c.what;
        EXPECT_EQ(address.port, c.port) << c.what;
    }
}

// What a person meant as a key but did not write exactly is listed for the
// warning, with its line; the exact keys still win and are not listed.
TEST(ConfigFile, LinesThatLookLikeKeysButAreNotAreListed)
{
    PeerAddress address = Read("[ip]\n10.0.0.2\n[port]\n47000\n[Port]\n3000\n [IP]\nx\n[IP] \ny\n[Peer]\n[a]\n[b]\n");
    EXPECT_EQ(3000, address.port);
    ASSERT_EQ(kUnknownKeysKept, address.unknownKeys.size());
    const std::vector<std::pair<int, std::string>> expected = {
        {1, "[ip]"}, {3, "[port]"}, {7, " [IP]"}, {9, "[IP] "}, {11, "[Peer]"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, address.unknownKeys[i].line) << i;
        EXPECT_EQ(expected[i].second, address.unknownKeys[i].text) << i;
    }
    EXPECT_EQ(2, address.moreUnknownKeys);
    EXPECT_TRUE(Read("[IP]\n[not a key: the address]\n").unknownKeys.empty());
}

TEST(ConfigFile, OnlyWholePortNumbersAreTaken)
{
    // Each of these once became some other port without a word.
    for (const char* bad : {"abc", "47000xyz", "4294967297", "47000.5", "", "  ", "-1", "0", "65536", "+80",
                            "0x50", "4 7000"}) {
        PeerAddress address = Read(std::string("[Port]\n") + bad + "\n");
        EXPECT_FALSE(address.portValid) << '"' << bad << '"';
        EXPECT_EQ(address.portText, bad) << "the warning names the value as written";
    }
    for (auto [text, port] : {std::pair{"1", 1}, {"47000", 47000}, {" 65535\t", 65535}, {"00080", 80}}) {
        PeerAddress address = Read(std::string("[Port]\n") + text + "\n");
        EXPECT_TRUE(address.portValid) << '"' << text << '"';
        EXPECT_EQ(address.port, port);
    }
    // The last [Port] decides, a good one after a bad one included.
    EXPECT_TRUE(Read("[Port]\nabc\n[Port]\n2000\n").portValid);
    EXPECT_FALSE(Read("[Port]\n2000\n[Port]\nabc\n").portValid);
}

TEST(ConfigFile, UnterminatedLastLine)
{
    // A value line without a line end is used; a key line without one is not.
    EXPECT_EQ(Read("[IP]\npeer.example").host, "peer.example");
    EXPECT_EQ(Read("[Port]\n2000\n[Port]").port, 2000);
    // A key with nothing after it leaves the value as it was.
    EXPECT_EQ(Read("[Port]\n2000\n[Port]\n").port, 2000);
}

TEST(ConfigFile, LongLinesAreTruncatedTo255Characters)
{
    std::string longHost(300, 'h');
    PeerAddress address = Read("[IP]\n" + longHost + "\n[Port]\n5\n");
    EXPECT_EQ(address.host, std::string(255, 'h'));
    EXPECT_EQ(address.port, 5);
    // A key hidden after 255 characters of a long line is not a key.
    EXPECT_EQ(Read(std::string(255, 'x') + "[Port]\n9\n").port, 1000);
}

}  // namespace
