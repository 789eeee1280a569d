#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "net/ServerUrl.h"
#include "net/UYmUrl.h"

using namespace orvane::net;

TEST(EncodeUrlValue, EscapesEveryByteButAsciiLettersAndDigits) {
  struct Case {
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {"a b.c", "a%20b%2Ec"},
      {"\xD6\xD0", "%D6%D0"},  // GBK 中: one escape per byte, upper-case hex
      {"", ""},
      {"AZaz09", "AZaz09"},
      {"-_~+&=%", "%2D%5F%7E%2B%26%3D%25"},
      {std::string("\0\x7F\xFF", 3), "%00%7F%FF"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUrlValue(c.value), c.expected) << c.value;
}

TEST(DecodeUrlValue, ReadsTheServersLenientForm) {
  struct Case {
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {"a+b%41", "a bA"},
      {"x%4a&y=1", "xJ"},                        // stops at "&", either hex case
      {"%4", std::string("\x04", 1)},            // an escape cut short by the end
      {"%", std::string("\0", 1)},               // nothing after "%": byte 0
      {"%zz", std::string("\0", 1)},             // no digits: byte 0, both characters consumed
      {"% 41", std::string("\x04", 1) + "1"},    // leading blank skipped, "1" is outside the pair
      {"%4 1", std::string("\x04", 1) + "1"},    // digits end at the blank
      {"%&ab", std::string("\0", 1) + "b"},      // the pair is consumed even when it holds "&"
      {"%D6%D0", "\xD6\xD0"},
      {"&rest", ""},
      {"", ""},
      {"a%2", "a\x02"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeUrlValue(c.value), c.expected) << c.value;
}

// Decoding reads only the bytes it is given: each input sits in a heap block of exactly its size, so
// the sanitizer build catches any read past the end, however the text is cut.
TEST(DecodeUrlValue, SurvivesRandomAndTruncatedInput) {
  std::mt19937 random(20240611);
  const std::string alphabet = "%%%&+ 0123456789abcdefABCDEFxyz\xD6\xD0";
  auto decodeExact = [](const std::string& text) {
    auto block = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), block.get());
    return DecodeUrlValue(std::string_view(block.get(), text.size()));
  };
  for (int round = 0; round < 2000; ++round) {
    const std::size_t length = random() % 24;
    std::string noise;
    for (std::size_t i = 0; i < length; ++i) {
      noise += round % 2 ? alphabet[random() % alphabet.size()] : static_cast<char>(random() % 256);
    }
    std::string value;
    for (std::size_t i = 0; i < length; ++i) value += static_cast<char>(random() % 256);
    const std::string encoded = EncodeUrlValue(value);

    ASSERT_EQ(decodeExact(encoded), value);
    for (std::size_t cut = 0; cut <= noise.size(); ++cut) {
      ASSERT_LE(decodeExact(noise.substr(0, cut)).size(), cut);
    }
    // A value cut inside an escape keeps every byte before the cut escape.
    for (std::size_t cut = 0; cut <= encoded.size(); ++cut) {
      const std::string decoded = decodeExact(encoded.substr(0, cut));
      ASSERT_LE(decoded.size(), value.size());
      const std::size_t whole = decoded.empty() ? 0 : decoded.size() - 1;
      ASSERT_EQ(decoded.substr(0, whole), value.substr(0, whole));
    }
  }
}

TEST(SplitHostPath, SplitsAtTheFirstSlashAfterAnHttpPrefix) {
  struct Case {
    std::string url;
    std::string host;
    std::string path;
  };
  const Case cases[] = {
      {"HTTP://Host/app/x.aspx", "Host", "app/x.aspx"},
      {"host/x", "host", "x"},
      {"http://host", "", "host"},
      {"http://host/", "host", ""},
      {"https://host/x", "https:", "/host/x"},
      {"http://host:8080/a?b=/c", "host:8080", "a?b=/c"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    const HostPath split = SplitHostPath(c.url);
    EXPECT_EQ(split.Host, c.host) << c.url;
    EXPECT_EQ(split.Path, c.path) << c.url;
  }
}

TEST(EncodeUrlValueGbk, EscapesTheGbkBytesForTheProductServer) {
  struct Case {
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {"中", "%D6%D0"},               // the server's own example
      {"a 中.b", "a%20%D6%D0%2Eb"},
      {"001122AABBCC", "001122AABBCC"},  // what the usage report sends stays as it is
      {"", ""},
      {"镕", "%E9F"},                  // GBK-only, not in GB2312 (its second byte is "F")
      {"\xD6\xD0", "%D6%D0"},          // already GBK (not UTF-8): escaped byte for byte
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUrlValueGbk(c.value), c.expected) << c.value;
}

TEST(EscapeUrl, EscapesWhatCannotStandInARequestAndKeepsEscapes) {
  struct Case {
    std::string url;
    std::string utf8;
    std::string gbk;
  };
  const Case cases[] = {
      {"http://h/a b+c.mp3", "http://h/a%20b+c.mp3", "http://h/a%20b+c.mp3"},
      {"http://h/歌.mp3", "http://h/%E6%AD%8C.mp3", "http://h/%B8%E8.mp3"},
      {"http://h/a%20b%zz%", "http://h/a%20b%25zz%25", "http://h/a%20b%25zz%25"},
      {std::string("http://h/\r\n\0x", 13), "http://h/%0D%0A%00x", "http://h/%0D%0A%00x"},
      {"http://h/?q=中&r=1", "http://h/?q=%E4%B8%AD&r=1", "http://h/?q=%D6%D0&r=1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeUrl(c.url), c.utf8) << c.url;
    EXPECT_EQ(EscapeUrlGbk(c.url), c.gbk) << c.url;
  }
}

TEST(StreamRequestUrl, GbkUnderTheMusicBaseAndOnTheProductServerUtf8Elsewhere) {
  ::setenv("ORVANE_SERVER_HOST", "www.product.example", 1);
  struct Case {
    std::string location;
    std::string musicBase;
    std::string expected;
  };
  const Case cases[] = {
      {"http://m.example/music/歌 1.mp3", "http://m.example/music/", "http://m.example/music/%B8%E8%201.mp3"},
      {"HTTP://M.example/music/歌.mp3", "http://m.example/music/", "HTTP://M.example/music/%B8%E8.mp3"},
      {"http://m.example/other/歌.mp3", "http://m.example/music/", "http://m.example/other/%E6%AD%8C.mp3"},
      {"http://radio.example/歌.mp3", "", "http://radio.example/%E6%AD%8C.mp3"},
      // Before the remote configuration is known: the product server's host still reads GBK.
      {"http://www.product.example:8080/s/歌.mp3", "", "http://www.product.example:8080/s/%B8%E8.mp3"},
      {"  http://radio.example/a b.mp3\n", "", "http://radio.example/a%20b.mp3"},
      {"/home/user/歌 1.mp3", "", "/home/user/歌 1.mp3"},  // a path is no URL
  };
  for (const auto& c : cases) EXPECT_EQ(StreamRequestUrl(c.location, c.musicBase), c.expected) << c.location;
  ::unsetenv("ORVANE_SERVER_HOST");
}
