#include "app/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/support.h"

using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(RunLog, AddressesLoseTheirUserInformation) {
  const struct {
    const char* url;
    const char* shown;
    const char* withoutQuery;
  } cases[] = {
      {"http://u:secret@h:8080/x?q=1", "http://h:8080/x?q=1", "http://h:8080/x"},
      {"https://u@h/", "https://h/", "https://h/"},
      {"http://a@b:pw@h/x", "http://h/x", "http://h/x"},  // up to the last '@' of the authority
      {"u:secret@h/x", "h/x", "h/x"},                     // no scheme: the client adds http://
      {"http://h/path@x?mail=a@b#f@g", "http://h/path@x?mail=a@b#f@g", "http://h/path@x"},
      {"http://h?u=a:b@c", "http://h?u=a:b@c", "http://h"},
      {"h/x?r=http://u:p@o", "h/x?r=http://u:p@o", "h/x"},  // a scheme in the query is no scheme
      {"http://h", "http://h", "http://h"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoggedAddress(c.url), c.shown) << c.url;
    EXPECT_EQ(LoggedAddressWithoutQuery(c.url), c.withoutQuery) << c.url;
  }
}

TEST(RunLog, LinesAreEscapedAndBounded) {
  RunLog log;
  log.Add("a\nforged line\r\x1b[31m");
  log.Add(std::string(RunLog::kMaxLine + 10, 'x'));
  const std::string text = log.Text();
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "a\\x0aforged line\\x0d\\x1b[31m\n");
  EXPECT_EQ(text.substr(text.find('\n') + 1), std::string(RunLog::kMaxLine, 'x') + "...\n");

  // However many lines come, the text stays within its bound and says so.
  RunLog full;
  for (int i = 0; i < 200; ++i) full.Add(std::string(RunLog::kMaxLine, 'y'));
  const std::string cut = full.Text();
  EXPECT_LE(cut.size(), RunLog::kMaxText + 64);
  EXPECT_EQ(cut.substr(cut.size() - 22), "(the log is cut here)\n");
  full.Add("later");
  EXPECT_EQ(full.Text(), cut);
}

TEST(RunLog, SaveKeepsThePreviousRunOnly) {
  TempDir t;
  const std::string path = t / "state/Game/last-run.log";  // its directories made on the way
  for (const char* run : {"first", "second", "third"}) {
    RunLog log;
    log.Add(run);
    ASSERT_TRUE(log.Save(path)) << run;
  }
  EXPECT_EQ(ListTree(t / "state/Game"), (std::vector<std::string>{"last-run.log", "last-run.log.1"}));
  EXPECT_EQ(ReadFile(path), "third\n");
  EXPECT_EQ(ReadFile(path + ".1"), "second\n");
}

TEST(RunLog, AnUnwritablePlaceLeavesEverythingAsItWas) {
  TempDir t;
  RunLog log;
  log.Add("run");
  EXPECT_FALSE(log.Save(""));
  // The log's name taken by a directory: not moved aside, not entered.
  const std::string taken = t / "taken/last-run.log";
  std::filesystem::create_directories(taken);
  WriteFile(taken + "/keep", "keep");
  EXPECT_FALSE(log.Save(taken));
  EXPECT_EQ(ListTree(t / "taken"), (std::vector<std::string>{"last-run.log/", "last-run.log/keep"}));
  // Its directory's name taken by a file.
  WriteFile(t / "file", "keep");
  EXPECT_FALSE(log.Save(t / "file/last-run.log"));
  EXPECT_EQ(ReadFile(t / "file"), "keep");
}
