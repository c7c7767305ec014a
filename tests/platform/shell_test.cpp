#include "platform/shell.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(IsWebAddress, OnlyHttpAndHttpsWithAHost) {
  struct Case {
    std::string url;
    bool web;
  } cases[] = {
      {"http://127.0.0.1/", true},
      {"https://www.example.org/news?a=1#top", true},
      {"HTTP://WWW.EXAMPLE.ORG", true},
      {"HttpS://h", true},
      {"http://h/\xE7\x82\xB9", true},  // bytes of another script stay
      {"file:///home/u/.ssh/id_ed25519", false},
      {"javascript:alert(1)", false},
      {"smb://127.0.0.1/share/x.exe", false},
      {"steam://run/1", false},  // a scheme whose handler starts a program
      {"ftp://127.0.0.1/", false},
      {"-x", false},
      {"--help", false},
      {" http://h/", false},
      {"http://h/a b", false},
      {"http://h/\r\nx", false},
      {std::string("http://h/\0x", 10), false},
      {"http://h/\x7F", false},
      {"http:///etc/passwd", false},
      {"http://\\\\127.0.0.1\\share", false},
      {"http://", false},
      {"https:/", false},
      {"http:h", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWebAddress(c.url), c.web) << c.url;
}
