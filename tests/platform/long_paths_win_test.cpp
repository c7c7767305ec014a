// Paths past MAX_PATH, which the ANSI functions refuse even behind "\\?\",
// and the names between the ANSI code page and the system's UTF-16. A data
// directory lies 50 to 80 bytes deep before a package's first name, so a
// game tree of ordinary depth goes past 260 bytes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/dir_handle.h"
#include "platform/file.h"
#include "platform/files.h"
#include "platform/files_win.h"
#include "support/support.h"
#include "support/support_win.h"

using namespace platform;
using testing_support::LongPath;
using testing_support::TempDir;

namespace {

// The first lengths the ANSI functions refused (a file's at 260 bytes, a
// directory's a dozen before), and depths as a game tree reaches them.
constexpr std::size_t kLengths[] = {259, 260, 300, 600};

// The levels below a root of rootSize bytes in which a name of nameSize
// bytes has a full path of exactly length bytes: up to 100 bytes each,
// each level its own letter.
std::vector<std::string> Levels(std::size_t rootSize, std::size_t length, std::size_t nameSize) {
  std::size_t room = length - rootSize - 1 - nameSize;  // each level with the separator before it
  std::vector<std::string> levels;
  char letter = 'a';
  for (; room > 102; room -= 101) levels.emplace_back(100, letter++);
  if (room == 102) {
    levels.emplace_back(50, letter++);
    room = 51;
  }
  levels.emplace_back(room - 1, letter);
  return levels;
}

// Those levels below root, made one by one with CreateOneDirectory.
std::string MakeDeepDirectory(const std::string& root, std::size_t length, const std::string& name) {
  std::string dir = root;
  for (const std::string& level : Levels(root.size(), length, name.size())) {
    dir += '\\' + level;
    EXPECT_TRUE(CreateOneDirectory(dir)) << dir.size();
  }
  EXPECT_EQ(dir.size() + 1 + name.size(), length);
  return dir;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(LongPath(path).c_str()); }

std::string ReadAll(const std::string& path) {
  const FileHandle h = OpenFileForReading(path);
  if (h == kNoFile) return "<cannot open>";
  char buffer[64];
  const long n = ReadFileAt(h, 0, buffer, sizeof buffer);
  CloseFile(h);
  return n < 0 ? "<cannot read>" : std::string(buffer, static_cast<std::size_t>(n));
}

bool Write(FileHandle h, const std::string& bytes) {
  if (h == kNoFile) return false;
  const bool ok = WriteFileAll(h, bytes.data(), bytes.size());
  CloseFile(h);
  return ok;
}

std::vector<std::string> Names(const std::string& dir, const std::string& pattern = "*") {
  std::vector<DirEntry> entries;
  if (!EnumerateDirectory(dir, pattern, entries)) return {"<cannot list>"};
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.strName + (e.bDirectory ? "/" : ""));
  return names;
}

// Every entry below dir as the system lists it, names without an ANSI
// form too.
std::size_t EntriesBelow(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  std::size_t n = 0;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    ++n;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) n += EntriesBelow(dir + L"\\" + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return n;
}

}  // namespace

TEST(LongPathsWindows, FilesByPathPastMaxPath) {
  for (const std::size_t length : kLengths) {
    TempDir t;
    const std::string dir = MakeDeepDirectory(t.path(), length, "f.txt");
    const std::string f = dir + "\\f.txt", g = dir + "\\g.txt";
    EXPECT_TRUE(PathIsDirectory(dir)) << length;
    EXPECT_TRUE(Write(CreateFileForWriting(f, 0644), "first")) << length;
    // An existing file is emptied, after the look at where it stands.
    EXPECT_TRUE(Write(CreateFileForWriting(f, 0644), "second")) << length;
    EXPECT_EQ(ReadAll(f), "second") << length;
    EXPECT_TRUE(PathExists(f)) << length;
    EXPECT_FALSE(PathIsDirectory(f)) << length;
    EXPECT_FALSE(PathIsLink(f)) << length;
    // The name of the same file written with '/' and a detour.
    std::string detour = f;
    detour.insert(dir.size(), "\\..\\" + dir.substr(dir.rfind('\\') + 1));
    for (char& c : detour) {
      if (c == '\\') c = '/';
    }
    EXPECT_EQ(ReadAll(detour), "second") << length;

    ASSERT_TRUE(SetModificationTime(f, 1306922400)) << length;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(LongPath(f).c_str(), GetFileExInfoStandard, &data)) << length;
    EXPECT_EQ(static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime,
              129513960000000000u)
        << length;

    ASSERT_TRUE(SetFileAttributesW(LongPath(f).c_str(), FILE_ATTRIBUTE_READONLY)) << length;
    EXPECT_EQ(CreateFileForWriting(f, 0644), kNoFile) << length;  // read-only stays
    EXPECT_TRUE(ResetAttributes(f)) << length;
    EXPECT_FALSE(Attributes(f) & FILE_ATTRIBUTE_READONLY) << length;
    EXPECT_TRUE(Write(CreateFileForWriting(g, 0444), "g")) << length;
    EXPECT_TRUE(Attributes(g) & FILE_ATTRIBUTE_READONLY) << length;

    EXPECT_EQ(Names(dir), (std::vector<std::string>{"f.txt", "g.txt"})) << length;
    EXPECT_EQ(Names(dir, "*.TXT"), (std::vector<std::string>{"f.txt", "g.txt"})) << length;
    EXPECT_FALSE(RenameNoReplace(f, g)) << length;
    EXPECT_TRUE(RenameNoReplace(f, dir + "\\h.txt")) << length;
    EXPECT_TRUE(ResetAttributes(g)) << length;
    EXPECT_TRUE(ReplaceFile(dir + "\\h.txt", g)) << length;
    EXPECT_EQ(ReadAll(g), "second") << length;
    EXPECT_EQ(Names(dir), std::vector<std::string>{"g.txt"}) << length;
    EXPECT_TRUE(DeleteOneFile(g)) << length;
    EXPECT_FALSE(PathExists(g)) << length;
    EXPECT_TRUE(RemoveEmptyDirectory(dir)) << length;
    EXPECT_FALSE(PathExists(dir)) << length;
  }
}

TEST(LongPathsWindows, TreeDeleteEmptiesADeepTree) {
  for (const std::size_t length : kLengths) {
    TempDir t;
    ASSERT_TRUE(CreateOneDirectory(t / "data"));
    const std::string dir = MakeDeepDirectory(t / "data", length, "deep.dat");
    // Read-only, hidden and system: what keeps a file from deletion.
    EXPECT_TRUE(Write(CreateFileForWriting(dir + "\\deep.dat", 0444), "x")) << length;
    EXPECT_TRUE(Write(CreateFileForWriting(dir.substr(0, dir.rfind('\\')) + "\\up.dat", 0644), "y")) << length;
    ASSERT_TRUE(SetFileAttributesW(LongPath(dir + "\\deep.dat").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(CreateOneDirectory(t / "beside"));
    DeleteDirectoryTreeContents(t / "data");
    EXPECT_EQ(EntriesBelow(LongPath(t / "data")), 0u) << length;
    EXPECT_TRUE(PathIsDirectory(t / "data")) << length;
    EXPECT_TRUE(PathIsDirectory(t / "beside")) << length;
  }
}

TEST(LongPathsWindows, EntriesInHeldDirectoriesPastMaxPath) {
  for (const std::size_t length : kLengths) {
    TempDir t;
    // Down from the root level by level, as extraction goes.
    std::vector<DirHandle> held{OpenDirectory(t.path())};
    ASSERT_NE(held.back(), kNoDir);
    std::string dir = t.path();
    const std::string name = "item.bin";
    for (const std::string& level : Levels(dir.size(), length, name.size())) {
      DirHandle sub = kNoDir;
      ASSERT_EQ(MakeAndOpenSubdirectory(held.back(), level, sub), SubdirResult::kOpened) << length << " at " << dir.size();
      held.push_back(sub);
      dir += '\\' + level;
    }
    ASSERT_EQ(dir.size() + 1 + name.size(), length);
    EXPECT_TRUE(Write(CreateFileReplacingAt(held.back(), name, 0444), "one")) << length;
    // An earlier, read-only copy is replaced.
    EXPECT_TRUE(Write(CreateFileReplacingAt(held.back(), name, 0644), "two")) << length;
    EXPECT_EQ(ReadAll(dir + "\\" + name), "two") << length;
    EXPECT_FALSE(Attributes(dir + "\\" + name) & FILE_ATTRIBUTE_READONLY) << length;
    // Made again, a level that is there is opened as it is.
    DirHandle again = kNoDir;
    const std::string last = dir.substr(dir.rfind('\\') + 1);
    ASSERT_EQ(MakeAndOpenSubdirectory(held[held.size() - 2], last, again), SubdirResult::kOpened) << length;
    EXPECT_TRUE(Write(CreateFileReplacingAt(again, "other", 0644), "o")) << length;
    CloseDirectory(again);
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"item.bin", "other"})) << length;
    for (DirHandle d : held) CloseDirectory(d);
    const DirHandle reopened = OpenDirectory(dir);
    EXPECT_NE(reopened, kNoDir) << length;
    CloseDirectory(reopened);
    DeleteDirectoryTreeContents(t.path());
    EXPECT_EQ(EntriesBelow(LongPath(t.path())), 0u) << length;
  }
}

TEST(LongPathsWindows, NamesWithoutAnAnsiFormAreNotListedButGoWithTheTree) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "every name has a form in UTF-8";
  TempDir t;
  // U+0915 (Devanagari ka) is in no ANSI code page but UTF-8.
  const std::wstring dir = LongPath(t.path());
  ASSERT_TRUE(CreateDirectoryW((dir + L"\\\u0915").c_str(), nullptr));
  for (const wchar_t* name : {L"\\\u0915\\inner.txt", L"\\\u0915.txt", L"\\plain.txt"}) {
    const HANDLE h = CreateFileW((dir + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY,
                                 nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  // Neither '?' nor a look-alike: those would name other entries, or none.
  EXPECT_EQ(Names(t.path()), std::vector<std::string>{"plain.txt"});
  DeleteDirectoryTreeContents(t.path());
  EXPECT_EQ(EntriesBelow(dir), 0u);
}

TEST(LongPathsWindows, TheWideFormOfAPath) {
  const std::wstring cwd = win::FullPath(".");
  ASSERT_FALSE(cwd.empty());
  const struct {
    const char* path;
    std::wstring wide;
  } cases[] = {
      {"C:\\Games\\x\\..\\Game\\.\\a.exe", L"\\\\?\\C:\\Games\\Game\\a.exe"},
      {"C:/Games/Game/", L"\\\\?\\C:\\Games\\Game\\"},
      {"C:\\Games\\a. .", L"\\\\?\\C:\\Games\\a"},  // as the system opens it
      {"\\\\server\\share\\x\\..\\y", L"\\\\?\\UNC\\server\\share\\y"},
      {"//server/share/y", L"\\\\?\\UNC\\server\\share\\y"},
      {"rel\\f.txt", L"\\\\?\\" + win::JoinPath(cwd, L"rel\\f.txt")},
      // Taken as they stand: entries that a plain path would not reach.
      {"\\\\?\\C:\\Games\\nul", L"\\\\?\\C:\\Games\\nul"},
      {"\\\\?\\C:\\Games\\a.", L"\\\\?\\C:\\Games\\a."},
      // A device stays one, as for the ANSI functions.
      {"NUL", L"\\\\.\\NUL"},
      {"\\\\.\\COM1", L"\\\\.\\COM1"},
      {"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(win::WidePath(c.path), c.wide) << c.path;
  EXPECT_EQ(win::WidePath(std::string("C:\\a\0b", 6)), L"");  // no name holds a zero
}

// Runs in the code page of the process, 932 as well.
TEST(AnsiCodePage, OnlyExactFormsPassBetweenTheCodePageAndUtf16) {
  struct Case {
    std::wstring wide;
    std::optional<std::string> ansi;  // nullopt: none
  };
  std::vector<Case> cases = {
      {L"Game\\Launcher.exe", "Game\\Launcher.exe"},
      {L"", ""},
      {L"\u0915", std::nullopt},            // in no ANSI code page
      {L"a\xD800" L"b", std::nullopt},      // half a surrogate pair
      {std::wstring(L"a\0b", 3), std::nullopt},
  };
  if (GetACP() == 1252) {
    cases.push_back({L"\u00E9t\u00E9", "\xE9t\xE9"});
    cases.push_back({L"\u0100", std::nullopt});  // the system's best fit would be "A"
  }
  if (GetACP() == 932) {
    cases.push_back({L"\u4E2D\\\u8868", "\x92\x86\\\x95\x5C"});  // 0x5C as a trail byte
    cases.push_back({L"\u00E9", std::nullopt});  // the system's best fit would be "e"
  }
  for (const Case& c : cases) {
    std::string ansi = "stale";
    EXPECT_EQ(win::ToAnsi(c.wide, ansi), c.ansi.has_value()) << c.wide.size();
    if (c.ansi) {
      EXPECT_EQ(ansi, *c.ansi);
      std::wstring back = L"stale";
      EXPECT_TRUE(win::ToWide(*c.ansi, back));
      EXPECT_EQ(back, c.wide);
    }
  }
  std::wstring wide;
  EXPECT_FALSE(win::ToWide(std::string("a\0b", 3), wide));
  // A lead byte at the end is half a character.
  if (GetACP() == 932) {
    EXPECT_FALSE(win::ToWide("abc\x81", wide));
  }
}
