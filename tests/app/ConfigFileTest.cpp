#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(ConfigFile, DefaultsWhenKeysAreAbsent)
{
    PeerAddress address = Read("nothing here\n");
    EXPECT_EQ(address.host, "localhost");
    EXPECT_EQ(address.port, 1000);
}

TEST(ConfigFile, PortAloneKeepsDefaultHost)
{
    PeerAddress address = Read("[Port]\n2000\n");
    EXPECT_EQ(address.host, "localhost");
    EXPECT_EQ(address.port, 2000);
}

TEST(ConfigFile, KeysMustMatchExactly)
{
    // The line after a non-key is an ordinary line, so "[Port]" there still counts.
    PeerAddress address = Read("[ip]\n[Port]\n3000\n [IP]\n10.0.0.1\n[IP] \nhost\n");
    EXPECT_EQ(address.host, "localhost");
    EXPECT_EQ(address.port, 3000);
}

TEST(ConfigFile, PortIsConvertedLikeAtoi)
{
    EXPECT_EQ(Read("[Port]\nabc\n").port, 0);
    EXPECT_EQ(Read("[Port]\n47000xyz\n").port, 47000);
}

TEST(ConfigFile, LastKeyWinsAndCrLfIsALineEnd)
{
    PeerAddress address = Read("[IP]\r\nfirst\r\n[IP]\r\nsecond\r\n[Port]\r\n1234\r\n");
    EXPECT_EQ(address.host, "second");
    EXPECT_EQ(address.port, 1234);
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
