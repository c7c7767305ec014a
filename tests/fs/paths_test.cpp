#include "fs/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/path.h"
#include "support/support.h"

using namespace testing_support;

namespace {

// Runs the body with the current directory in dir, restoring it after.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : m_saved(std::filesystem::current_path()) {
    std::error_code ec;
    std::filesystem::current_path(dir, ec);
    EXPECT_FALSE(ec) << dir;
  }
  ~ScopedCwd() {
    std::error_code ec;
    std::filesystem::current_path(m_saved, ec);
    EXPECT_FALSE(ec);
  }

 private:
  std::filesystem::path m_saved;
};

}  // namespace

TEST(IsExistingFile, FilesOnlyOfAnySize) {
  TempDir t;
  WriteFile(t / "file", "data");
  WriteFile(t / "empty", "");
  WriteFile(t / "readonly", "data", 0444);
  EXPECT_TRUE(IsExistingFile((t / "file").c_str()));
  EXPECT_TRUE(IsExistingFile((t / "empty").c_str()));
  EXPECT_TRUE(IsExistingFile((t / "readonly").c_str()));
  EXPECT_FALSE(IsExistingFile(t.path().c_str()));
  EXPECT_FALSE(IsExistingFile((t / "missing").c_str()));
  EXPECT_FALSE(IsExistingFile(nullptr));
}

TEST(CreateDirectoryTree, EmptyPathDoesNothing) {
  TempDir t;
  ScopedCwd cwd(t.path());
  EXPECT_FALSE(CreateDirectoryTree(""));
  EXPECT_TRUE(ListTree(t.path()).empty());
}

TEST(CreateDirectoryTree, RelativePathBelowCurrentDirectory) {
  // The system's own form, and '/' (which Windows takes as well).
  for (const std::string& path : {SystemPath("a/b/c"), std::string("a/b/c")}) {
    SCOPED_TRACE(path);
    TempDir t;
    ScopedCwd cwd(t.path());
    EXPECT_TRUE(CreateDirectoryTree(path));
    EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"a/", "a/b/", "a/b/c/"}));
  }
}

TEST(CreateDirectoryTree, AbsoluteExistingAndUncreatable) {
  TempDir t;
  ASSERT_TRUE(platform::IsAbsolutePath(t.path())) << t.path();
  EXPECT_TRUE(CreateDirectoryTree(t / "x/y/"));
  EXPECT_TRUE(IsDir(t / "x/y"));
  EXPECT_TRUE(CreateDirectoryTree(t / "x/y/"));  // all exist
  WriteFile(t / "file", "");
  EXPECT_TRUE(CreateDirectoryTree(t / "file/sub/deeper"));  // cannot be made, still TRUE
  EXPECT_FALSE(Exists(t / "file/sub"));
}

TEST(DeleteDirectoryContents, EmptiesNestedTreeWithReadOnlyFiles) {
  for (bool trailingSeparator : {false, true}) {
    TempDir t;
    std::string dir = t / "data";
    WriteFile(t / "data/update.ini", "x");
    WriteFile(t / "data/Game/Launcher.exe", "x", 0555);
    WriteFile(t / "data/Game/sub/deep/readme.txt", "x", 0444);
    ASSERT_TRUE(IsReadOnly(t / "data/Game/sub/deep/readme.txt"));
    std::filesystem::create_directories(t / "data/empty");
    DeleteDirectoryContents(trailingSeparator ? dir + platform::kPathSeparator : dir);
    EXPECT_TRUE(IsDir(dir)) << trailingSeparator;
    EXPECT_TRUE(ListTree(dir).empty()) << trailingSeparator;
  }
}

TEST(DeleteDirectoryContents, MissingOrEmptyPathDoesNothing) {
  TempDir t;
  WriteFile(t / "file", "x");
  DeleteDirectoryContents(t / "missing");
  DeleteDirectoryContents(t / "file");  // not a directory
  {
    ScopedCwd cwd(t.path());
    DeleteDirectoryContents("");  // must not mean the current directory
  }
  EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"file"}));
}

TEST(GetModulePath, IsTheRunningProgram) {
  std::string path = GetModulePath();
  EXPECT_TRUE(platform::IsAbsolutePath(path)) << path;
  EXPECT_NE(path.find(SystemPath("/fs_test")), std::string::npos) << path;
  EXPECT_TRUE(IsExistingFile(path.c_str()));
}
