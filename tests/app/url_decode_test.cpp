#include <gtest/gtest.h>

#include "app/remote_config.h"

TEST(UrlDecode, Table) {
  using namespace std::string_literals;
  struct Case { std::string in, out; };
  const Case cases[] = {
      {"a%2Fb+c", "a/b c"},
      {"%2f%2F", "//"},
      {"%E7%82%B9", "\xE7\x82\xB9"},
      {"%e7%82%b9", "\xE7\x82\xB9"},
      {"\xE7\x82\xB9-\xFF", "\xE7\x82\xB9-\xFF"},  // bytes above 0x7F pass through
      {"http://plain/path?x=1", "http://plain/path?x=1"},
      {"100%", "100%"},                            // trailing '%'
      {"%4", "%4"},                                // one digit before the end
      {"%zz%4g", "%zz%4g"},                        // not hexadecimal
      {"%%41", "%A"},
      {"a%00b", "a\0b"s},                          // the zero byte is kept here
      {"++", "  "},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << c.in;
}
