// The Debian package that `cpack -G DEB` made (the package_deb fixture):
// what it holds, what it declares, and the launcher installed from it into
// a throw-away root, run there as a user runs it, then removed again.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "launcher_run.h"

using namespace launcher_e2e;

namespace {

const std::string kName = TOLVANE_APP_NAME;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

ProcessResult Checked(const std::vector<std::string>& argv, ProcessOptions o = {}) {
  o.env["PATH"] = "/usr/sbin:/usr/bin:/sbin:/bin";  // dpkg wants ldconfig and start-stop-daemon on it
  ProcessResult p = RunProcess(argv, o);
  EXPECT_EQ(p.status, 0) << argv[0] << " " << argv[1] << ": " << p.err;
  return p;
}

std::string Field(const std::string& name) {
  std::string value = Checked({"dpkg-deb", "-f", TOLVANE_DEB, name}).out;
  while (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// A root of its own for dpkg: an empty database, nothing else.
struct DpkgRoot {
  std::string dir;
  explicit DpkgRoot(std::string d) : dir(std::move(d)) {
    for (const char* sub : {"/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/var/lib/dpkg/triggers"})
      std::filesystem::create_directories(dir + sub);
    WriteFile(dir + "/var/lib/dpkg/status", "");
  }
  ProcessResult Dpkg(std::vector<std::string> args) {
    args.insert(args.begin(), {"dpkg", "--root=" + dir, "--force-not-root", "--force-script-chrootless",
                               "--log=" + dir + "/dpkg.log"});
    return Checked(args);
  }
  // The files and links it holds outside dpkg's own directories.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const std::string& p : ListTree(dir)) {
      if (p.back() != '/' && p.rfind("var/lib/dpkg/", 0) != 0 && p != "dpkg.log") out.push_back(p);
    }
    return out;
  }
};

}  // namespace

TEST(DebPackage, HoldsExactlyTheProgramsTheEntryTheIconTheManualsAndTheDocs) {
  const std::string icon = std::string("usr/share/icons/hicolor/") + TOLVANE_ICON_SIZE + "x" + TOLVANE_ICON_SIZE;
  const std::string exe = "-rwxr-xr-x", file = "-rw-r--r--", dir = "drwxr-xr-x";
  std::map<std::string, std::string> expected = {
      {"./usr/", dir},
      {"./usr/bin/", dir},
      {"./usr/bin/" + kName, exe},
      {"./usr/bin/tolvane-fetch", exe},
      {"./usr/bin/tolvane-unzip", exe},
      {"./usr/share/", dir},
      {"./usr/share/applications/", dir},
      {"./usr/share/applications/" + kName + ".desktop", file},
      {"./usr/share/doc/", dir},
      {"./usr/share/doc/" + kName + "/", dir},
      {"./usr/share/doc/" + kName + "/changelog.gz", file},
      {"./usr/share/doc/" + kName + "/copyright", file},
      {"./usr/share/icons/", dir},
      {"./usr/share/icons/hicolor/", dir},
      {"./" + icon + "/", dir},
      {"./" + icon + "/apps/", dir},
      {"./" + icon + "/apps/" + kName + ".png", file},
      {"./usr/share/man/", dir},
      {"./usr/share/man/man1/", dir},
      {"./usr/share/man/man1/" + kName + ".1.gz", file},
      {"./usr/share/man/man1/tolvane-fetch.1.gz", file},
      {"./usr/share/man/man1/tolvane-unzip.1.gz", file},
  };
  if (TOLVANE_HAS_VERIFY) {
    expected["./usr/bin/tolvane-verify"] = exe;
    expected["./usr/share/man/man1/tolvane-verify.1.gz"] = file;
  }
  // drwxr-xr-x root/root         0 2024-01-01 00:00 ./usr/
  const std::regex entry(R"(^(\S+) (\S+) +\d+ \S+ \S+ (.*)$)");
  std::map<std::string, std::string> listed;
  for (const std::string& line : Lines(Checked({"dpkg-deb", "-c", TOLVANE_DEB}).out)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
    EXPECT_EQ(m[2], "root/root") << line;
    listed[m[3]] = m[1];
  }
  EXPECT_EQ(listed, expected);
}

TEST(DebPackage, DeclaresItsNameMaintainerAndTheOwnersOfEveryLibraryItNeeds) {
  EXPECT_EQ(Field("Package"), kName);
  EXPECT_EQ(Field("Version"), TOLVANE_VERSION);
  EXPECT_EQ(Field("Maintainer"), TOLVANE_MAINTAINER);
  EXPECT_EQ(Field("Section"), "net");
  EXPECT_EQ(Field("Priority"), "optional");
  EXPECT_NE(Field("Description").find('\n'), std::string::npos) << "a synopsis and a long description";

  // Every library the programs name goes with a dependency on its package.
  std::set<std::string> depends;
  const std::regex dependency(R"(([a-z0-9][a-z0-9+.-]+)( \([^)]*\))?)");
  const std::string field = Field("Depends");
  for (std::sregex_iterator it(field.begin(), field.end(), dependency), end; it != end; ++it)
    depends.insert((*it)[1]);
  TempDir tmp;
  Checked({"dpkg-deb", "-x", TOLVANE_DEB, tmp.path()});
  std::set<std::string> owners;
  for (const std::string& program : {kName, std::string("tolvane-fetch"), std::string("tolvane-unzip")}) {
    const std::string path = tmp / ("usr/bin/" + program);
    // Stripped: no symbol table, no debugging sections.
    const std::string sections = Checked({"readelf", "-S", "-W", path}).out;
    EXPECT_EQ(sections.find(".symtab"), std::string::npos) << program;
    EXPECT_EQ(sections.find(".debug_"), std::string::npos) << program;
    // libcurl.so.4 => /lib/x86_64-linux-gnu/libcurl.so.4 (0x...)
    std::map<std::string, std::string> where;
    const std::regex resolved(R"(^\s*(\S+) => (\S+) )");
    for (const std::string& line : Lines(Checked({"ldd", path}).out)) {
      std::smatch m;
      if (std::regex_search(line, m, resolved)) where[m[1]] = m[2];
    }
    const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    const std::string dynamic = Checked({"readelf", "-d", "-W", path}).out;
    for (std::sregex_iterator it(dynamic.begin(), dynamic.end(), needed), end; it != end; ++it) {
      const std::string soname = (*it)[1];
      ASSERT_TRUE(where.count(soname)) << program << " needs " << soname << ", which ldd did not find";
      // dpkg knows a library by the path its package ships, /lib or /usr/lib.
      std::string libPath = where[soname];
      ProcessResult owner = RunProcess({"dpkg", "-S", libPath});
      if (owner.status != 0) owner = RunProcess({"dpkg", "-S", libPath.rfind("/usr/", 0) == 0 ? libPath.substr(4) : "/usr" + libPath});
      ASSERT_EQ(owner.status, 0) << "no package owns " << libPath;
      const std::string package = owner.out.substr(0, owner.out.find_first_of(":,"));
      EXPECT_TRUE(depends.count(package)) << program << " needs " << soname << " of " << package
                                          << ", not in Depends: " << field;
      owners.insert(package);
    }
  }
  EXPECT_TRUE(owners.count("libcurl4")) << "the launcher links libcurl";
}

TEST(DebPackage, InstalledLauncherWorksUnderItsNameAndRemovalTakesEverything) {
  HttpPeer service(R"({"/api/": {"body": "<config><url officialUrl=\"http%3A%2F%2F127.0.0.1%3A9%2Fsite%2F\" updateUrl=\"\"/></config>"},
                       "/dss/statvx/": {"body": "ok"}})",
                   HostsPort());
  LauncherRun r;
  DpkgRoot root(r.root / "sysroot");
  root.Dpkg({"--force-depends", "--install", TOLVANE_DEB});
  const std::string installed = root.dir + "/usr/bin/" + kName;
  ASSERT_TRUE(Exists(installed));
  EXPECT_NE(ReadFile(root.dir + "/usr/share/applications/" + kName + ".desktop").find("\nExec=" + kName + "\n"),
            std::string::npos);

  ProcessResult p = RunProcess({installed}, r.Options());
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out + p.err, "");
  EXPECT_TRUE(IsDir(r.dataHome + "/" + kName));
  EXPECT_EQ(r.Opened(), "http://127.0.0.1:9/site/\n");
  std::vector<std::string> requests = service.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find(R"("target": "/api/")"), std::string::npos) << requests[0];
  EXPECT_NE(requests[0].find("\"User-Agent\": \"" + kName + "\""), std::string::npos) << requests[0];

  root.Dpkg({"--purge", kName});
  EXPECT_EQ(root.Files(), std::vector<std::string>{});
  const ProcessResult known =
      RunProcess({"dpkg-query", "--admindir=" + root.dir + "/var/lib/dpkg", "-W", "-f=${Status}", kName});
  EXPECT_TRUE(known.status != 0 || known.out.find("not-installed") != std::string::npos) << known.out;
  EXPECT_TRUE(IsDir(r.dataHome + "/" + kName)) << "the user's data is the user's";
}
