// The configuration answer's text, read without fetching it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/globals.h"
#include "app/remote_config.h"

namespace {

class ConfigText : public ::testing::Test {
 protected:
  void SetUp() override { g_strOfficialUrl = g_strUpdateUrl = g_strReportUrl = "before"; }
};

TEST_F(ConfigText, TakesTheFirstUrlChildOfTheRoot) {
  ApplyRemoteConfig(R"(<?xml version="1.0"?><c><x/><url officialUrl="a%2Fb+c" updateUrl=""/>)"
                    R"(<url AdobeFlashUrl="second"/></c>)");
  EXPECT_EQ(g_strOfficialUrl, "a/b c");
  EXPECT_EQ(g_strUpdateUrl, "");
  EXPECT_EQ(g_strReportUrl, "before");
}

// A UTF-8 lead byte last in the text made the parser step over the
// terminating zero and read on in whatever memory followed: here a tail the
// caller's string still holds, which must not become configuration.
TEST_F(ConfigText, NothingIsReadBehindTheText) {
  for (const char* lead : {"\xC3", "\xE0", "\xF0"}) {
    const std::string answer = std::string(R"(<?xml version="1.0"?><c>)") + lead;
    std::string text = answer + '\0' + "   <url officialUrl=\"behind\" updateUrl=\"behind\"/></c>";
    // Shortened, the string keeps the old bytes behind its new end.
    text.resize(answer.size());
    ApplyRemoteConfig(text);
    EXPECT_EQ(g_strOfficialUrl, "before") << static_cast<int>(static_cast<unsigned char>(*lead));
    EXPECT_EQ(g_strUpdateUrl, "before");
  }
}

// The parser recurses once per nested element: an answer nested deep
// enough overflowed the stack. What comes before the depth is still read.
TEST_F(ConfigText, DeepNestingDoesNotCrash) {
  std::string text = R"(<c><url officialUrl="kept"/>)";
  for (int i = 0; i < 200000; ++i) text += "<a>";
  ApplyRemoteConfig(text);
  EXPECT_EQ(g_strOfficialUrl, "kept");
}

// The parser's cost grows with the square of an element's attribute count:
// 100000 attributes, well inside the size that a fetch accepts, took half
// a minute. Only the start of an answer is parsed, and a url element there
// is still read in full.
TEST_F(ConfigText, ManyAttributesCannotHoldStartUp) {
  std::string attributes;
  for (int i = 0; attributes.size() < 900000; ++i) attributes += " a" + std::to_string(i) + "=''";
  const struct {
    const char* what;
    std::string text;
    const char* official;
  } cases[] = {
      {"after the url element's own three",
       R"(<c><url officialUrl="o" updateUrl="u" AdobeFlashUrl="r")" + attributes + "/></c>", "o"},
      {"on an element before it", "<c><x" + attributes + R"(/><url officialUrl="o"/></c>)", "before"},
      {"on the root", "<c" + attributes + R"(><url officialUrl="o"/></c>)", "before"},
  };
  for (const auto& c : cases) {
    SetUp();
    const auto t0 = std::chrono::steady_clock::now();
    ApplyRemoteConfig(c.text);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << c.what;
    EXPECT_EQ(g_strOfficialUrl, c.official) << c.what;
  }
  EXPECT_EQ(g_strUpdateUrl, "before");
}

}  // namespace
