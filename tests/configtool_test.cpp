// configtool as the controlling application sees it: arguments in; standard output, standard
// error, exit status and the edited file out.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/plist/file.h"
#include "tests/as_nobody.h"
#include "tests/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::RunResult;
using test_support::TempDir;
using test_support::WriteFile;

const std::string kTool = CONFIGTOOL_PATH;
const std::string kUsage = " configFile [paramName newValue oldValue|keyName newValue]\n";

const std::string kService =
    "service tftp\n{\n\tdisable\t\t= yes\n\tsocket_type\t= dgram\n\tprotocol\t= udp\n"
    "\twait\t\t= yes\n\tuser\t\t= root\n\tserver\t\t= /usr/libexec/tftpd\n"
    "\tserver_args\t= -s /private/tftpboot\n}\n";

std::string Plist(const std::string& args) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n\t<key>Disabled</key>\n\t<true/>\n"
         "\t<key>Label</key>\n\t<string>com.apple.tftpd</string>\n"
         "\t<key>ProgramArguments</key>\n\t<array>\n" +
         args + "\t</array>\n\t<key>Port</key>\n\t<integer>69</integer>\n</dict>\n</plist>\n";
}
std::string Strings(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += "\t\t<string>" + s + "</string>\n";
  return out;
}
const std::string kDaemonPlist = Plist(Strings({"/usr/libexec/tftpd", "-i", "/private/tftpboot"}));

RunResult Tool(std::vector<std::string> args) {
  args.insert(args.begin(), kTool);
  return test_support::Run(args);
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_ino;
}

// The strings of the array under `key`, or a note of what was found instead.
std::vector<std::string> ArrayAt(const std::string& path, const std::string& key) {
  std::string err;
  std::optional<platform::Value> root = platform::ReadPlistFile(path, &err);
  if (!root || !root->IsDictionary()) return {"unreadable: " + err};
  const platform::Value* v = root->dictionary().Find(key);
  if (v == nullptr || !v->IsArray()) return {"no array"};
  std::vector<std::string> out;
  for (const platform::Value& e : v->array()) out.push_back(e.IsString() ? e.string() : "?");
  return out;
}

// Expects the run to have left the file alone, explained in one line, and finished with 0.
void ExpectLeftAlone(const RunResult& r, const std::string& out, const std::string& path,
                     const std::string& before) {
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_EQ(ReadFile(path), before);
}

TEST(ConfigtoolCommandLine, UsageMissingFileAndBadArguments) {
  TempDir dir;
  const std::string f = dir.File("tftp");
  WriteFile(f, kService);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{f}, {f, "a", "b", "c", "d"}, {}}) {
    RunResult r = Tool(args);
    EXPECT_EQ(r.err, "Usage: " + kTool + kUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 1);
  }

  // No arguments at all, not even a name (the kernel may pass one empty name instead).
  RunResult none = test_support::Run({EXEC_HELPER_PATH, "--no-args", kTool});
  EXPECT_EQ(none.err, "Usage: configtool" + kUsage);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.status, 1);

  const std::string missing = dir.File("no such file");
  RunResult r = Tool({missing, "disable", "no", "yes"});
  EXPECT_EQ(r.err, "File not found: " + missing + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);

  // Arguments that are not UTF-8 would spoil the file: refused before it is touched.
  for (const auto& [args, name] :
       {std::pair{std::vector<std::string>{"disable", "n\xFFo", "yes"}, "newValue"},
        {{"\xFF", "no", "yes"}, "paramName"},
        {{"disable", "no", "y\xC3"}, "oldValue"}}) {
    r = Tool({f, args[0], args[1], args[2]});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("configtool: ") + name + " is not valid UTF-8\n");
    EXPECT_EQ(ReadFile(f), kService);
  }

  // Neither a folder nor a FIFO is edited; the FIFO must not hold the run.
  ExpectLeftAlone(Tool({dir.path(), "x", "y", "z"}), "0", f, kService);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  // Nor is it ever opened: opening what is not a regular file (a device) can act by itself.
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.File("fifo").c_str(), IN_OPEN), 0);
  ExpectLeftAlone(Tool({dir.File("fifo"), "ProgramArguments"}), "", f, kService);
  char event[sizeof(struct inotify_event) + 256];
  EXPECT_LT(read(watch, event, sizeof event), 0) << "the FIFO was opened";
  close(watch);
}

TEST(ConfigtoolTextFile, EditsOnlyTheFirstLineNamingTheParameter) {
  TempDir dir;
  const std::string f = dir.File("tftp");
  WriteFile(f, kService);
  RunResult r = Tool({f, "disable", "no", "yes"});
  EXPECT_EQ(r.out, "1");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  std::string want = kService;
  want.replace(want.find("= yes"), 5, "= no");
  EXPECT_EQ(ReadFile(f), want);

  r = Tool({f, "server_args", "/srv/tftp", "/private/tftpboot"});
  EXPECT_EQ(r.out, "1");
  want.replace(want.find("/private/tftpboot"), 17, "/srv/tftp");
  EXPECT_EQ(ReadFile(f), want);

  // Every occurrence on the first line naming it, none elsewhere.
  WriteFile(f, "a = x x\nb = x\na = x\n");
  EXPECT_EQ(Tool({f, "a =", "yy", "x"}).out, "2");
  EXPECT_EQ(ReadFile(f), "a = yy yy\nb = x\na = x\n");

  // A name that is not there (the search is case-sensitive), or empty: 0 and no write.
  WriteFile(f, kService);
  ino_t before = Inode(f);
  for (const char* name : {"Disable", ""}) {
    r = Tool({f, name, "no", "yes"});
    EXPECT_EQ(r.out, "0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Inode(f), before);
  }
  // The line is found but holds no old value, or an empty one: 0, contents unchanged, and the
  // file is still written back (a new inode).
  for (const char* old_value : {"maybe", ""}) {
    before = Inode(f);
    EXPECT_EQ(Tool({f, "disable", "no", old_value}).out, "0");
    EXPECT_EQ(ReadFile(f), kService);
    EXPECT_NE(Inode(f), before);
  }
}

TEST(ConfigtoolTextFile, LineTerminatorsAndUntouchedBytes) {
  struct Case {
    std::string text, param, old_value, new_value, count, want;
  } cases[] = {
      {"a=1\r\nb=1\r\n", "b", "1", "2", "1", "a=1\r\nb=2\r\n"},
      {"a=1\rb=1\rc=1", "b", "1", "2", "1", "a=1\rb=2\rc=1"},
      {"a=1\nb=1", "b", "1", "2", "1", "a=1\nb=2"},
      {"\xEF\xBB\xBF"
       "a=1\na=1\n",
       "a", "1", "22", "1",
       "\xEF\xBB\xBF"
       "a=22\na=1\n"},
      // U+2028, U+2029 and U+0085 end lines too.
      {"a=1\u2028b=1\u2029c=1\n", "b", "1", "2", "1", "a=1\u2028b=2\u2029c=1\n"},
      {"a=1\u0085b=1\n", "a", "1", "2", "1", "a=2\u0085b=1\n"},
      {"a=1\u0085b=1\n", "b", "1", "2", "1", "a=1\u0085b=2\n"},
      // A match that ends the file, which has no final newline.
      {"a=1\nb", "b", "b", "c", "1", "a=1\nc"},
      // A name that spans lines takes in every line it touches.
      {"q=1 x\ny=1\nz=1", "x\ny", "1", "2", "2", "q=2 x\ny=2\nz=1"},
      {"a=1\r\nb=1\r\nc=1", "1\r", "1", "2", "1", "a=2\r\nb=1\r\nc=1"},
      {"a=1\r\nb=1\r\nc=1", "\nb", "1", "2", "2", "a=2\r\nb=2\r\nc=1"},
      // The terminator is part of the line; an occurrence reaching past it is not.
      {"a=1\r\nb=1", "a", "\r\n", "\n", "1", "a=1\nb=1"},
      {"a=1\nb=1", "a", "1\nb", "X", "0", "a=1\nb=1"},
      // Left to right, without overlaps.
      {"k=aaaaa\n", "k", "aa", "a", "2", "k=aaa\n"},
      {"k=ab\n", "k", "ab", "abab", "1", "k=abab\n"},
  };
  TempDir dir;
  const std::string f = dir.File("conf");
  for (const Case& c : cases) {
    WriteFile(f, c.text);
    RunResult r = Tool({f, c.param, c.new_value, c.old_value});
    EXPECT_EQ(r.out, c.count) << c.text;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(f), c.want) << c.text;
  }

  // Bytes that are not UTF-8: nothing is changed.
  const std::string latin1 = "name=Jos\xE9\nport=69\n";
  WriteFile(f, latin1);
  ExpectLeftAlone(Tool({f, "port", "70", "69"}), "0", f, latin1);
}

class ConfigtoolPlist : public ::testing::Test {
 protected:
  void SetUp() override {
    xml_ = dir_.File("tftp.plist");
    WriteFile(xml_, kDaemonPlist);
    binary_ = dir_.File("binary.plist");
    RunResult r =
        test_support::Run({"/usr/bin/python3", "-c",
                           "import plistlib,sys\n"
                           "d={'Label':'com.apple.tftpd','ProgramArguments':"
                           "['/usr/libexec/tftpd','-i','/private/tftpboot'],'Port':69}\n"
                           "plistlib.dump(d,open(sys.argv[1],'wb'),fmt=plistlib.FMT_BINARY)",
                           binary_});
    if (r.status != 0) GTEST_SKIP() << "python3 plistlib is needed: " << r.err;
  }
  TempDir dir_;
  std::string xml_, binary_;
};

TEST_F(ConfigtoolPlist, ChangeDictFileSetsAStringOrTheLastElement) {
  for (const std::string& f : {xml_, binary_}) {
    RunResult r = Tool({f, "ProgramArguments", "/srv/tftp"});
    EXPECT_EQ(r.out, "1");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ArrayAt(f, "ProgramArguments"),
              (std::vector<std::string>{"/usr/libexec/tftpd", "-i", "/srv/tftp"}));
    EXPECT_EQ(ReadFile(f).rfind("<?xml", 0), 0u);  // written back as XML

    // The same value again, or a key that is missing or holds a number: 0 and no write.
    ino_t before = Inode(f);
    for (std::vector<std::string> args : {std::vector<std::string>{"ProgramArguments", "/srv/tftp"},
                                          {"Label", "com.apple.tftpd"},
                                          {"Nothing", "x"},
                                          {"Port", "70"}}) {
      args.insert(args.begin(), f);
      EXPECT_EQ(Tool(args).out, "0") << args[1];
    }
    EXPECT_EQ(Inode(f), before);

    EXPECT_EQ(Tool({f, "Label", "org.example.tftpd"}).out, "1");
    std::string err;
    std::optional<platform::Value> root = platform::ReadPlistFile(f, &err);
    ASSERT_TRUE(root) << err;
    EXPECT_EQ(root->dictionary().Find("Label")->string(), "org.example.tftpd");
    EXPECT_EQ(root->dictionary().entries()[0].first, f == xml_ ? "Disabled" : "Label");
  }

  // A value that XML cannot hold would make the file unreadable to others: refused.
  const std::string before = ReadFile(xml_);
  for (const char* value : {"a\x01b", "\x1F", "\xEF\xBF\xBE"}) {
    RunResult r = Tool({xml_, "Label", value});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "configtool: newValue holds a character that a property list cannot carry\n");
    EXPECT_EQ(ReadFile(xml_), before);
  }

  // An empty array, or one that does not end in a string, is left alone.
  for (const std::string& args : {std::string(), Strings({"a"}) + "\t\t<integer>1</integer>\n"}) {
    const std::string text = Plist(args);
    WriteFile(xml_, text);
    EXPECT_EQ(Tool({xml_, "ProgramArguments", "/srv/tftp"}).out, "0");
    EXPECT_EQ(ReadFile(xml_), text);
  }
}

TEST_F(ConfigtoolPlist, FixInsecureModeReplacesTheFlag) {
  for (const std::string& f : {xml_, binary_}) {
    RunResult r = Tool({f, "ProgramArguments"});
    EXPECT_EQ(r.out, "Fixed tftpd insecure mode");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ArrayAt(f, "ProgramArguments"),
              (std::vector<std::string>{"/usr/libexec/tftpd", "-s", "/private/tftpboot"}));
    // Already secure, or not an array: nothing printed, nothing written.
    ino_t before = Inode(f);
    for (const char* key : {"ProgramArguments", "Label", "Missing"}) {
      r = Tool({f, key});
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.status, 0);
    }
    EXPECT_EQ(Inode(f), before);
  }
  // Twice "-i": one "-s" where the first was.
  WriteFile(xml_, Plist(Strings({"tftpd", "-i", "-l", "-i", "/dir"})));
  EXPECT_EQ(Tool({xml_, "ProgramArguments"}).out, "Fixed tftpd insecure mode");
  EXPECT_EQ(ArrayAt(xml_, "ProgramArguments"),
            (std::vector<std::string>{"tftpd", "-s", "-l", "/dir"}));
}

TEST_F(ConfigtoolPlist, UnusablePropertyListsAreLeftAlone) {
  for (const std::string& text :
       {std::string("<plist><dict><key>ProgramArguments</key><array>"),
        std::string("not a property list at all\n"),
        std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>-i</string>"
                    "</array></plist>")}) {
    WriteFile(xml_, text);
    ExpectLeftAlone(Tool({xml_, "ProgramArguments", "/srv"}), "0", xml_, text);
    ExpectLeftAlone(Tool({xml_, "ProgramArguments"}), "", xml_, text);
  }
}

TEST(ConfigtoolSafety, ModeOwnerAndSymbolicLinkSurvive) {
  TempDir dir;
  const std::string target = dir.File("real.conf");
  const std::string link = dir.File("link.conf");
  WriteFile(target, kService);
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const bool root = test_support::IsRoot();
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 4321, 4322), 0);
  }
  ASSERT_EQ(symlink("real.conf", link.c_str()), 0);

  EXPECT_EQ(Tool({link, "disable", "no", "yes"}).out, "1");
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  EXPECT_NE(ReadFile(target).find("disable\t\t= no"), std::string::npos);

  WriteFile(target, kDaemonPlist);
  EXPECT_EQ(Tool({link, "ProgramArguments"}).out, "Fixed tftpd insecure mode");
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
  }
}

TEST(ConfigtoolSafety, ConcurrentRunsLoseNoEdit) {
  TempDir dir;
  const std::string f = dir.File("conf");
  constexpr int kRuns = 16;
  std::string line = "tokens =", want = "tokens =";
  char token[8];
  for (int i = 0; i < kRuns; ++i) {
    std::snprintf(token, sizeof token, " t%02d", i);
    line += token;
    std::snprintf(token, sizeof token, " u%02d", i);
    want += token;
  }
  WriteFile(f, "# header\n" + line + "\nother = t00\n");
  std::vector<RunResult> results(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      char from[8], to[8];
      std::snprintf(from, sizeof from, "t%02d", i);
      std::snprintf(to, sizeof to, "u%02d", i);
      results[i] = Tool({f, "tokens", to, from});
    });
  }
  for (std::thread& t : threads) t.join();
  for (const RunResult& r : results) EXPECT_EQ(r.out + r.err, "1");
  EXPECT_EQ(ReadFile(f), "# header\n" + want + "\nother = t00\n");
}

TEST(ConfigtoolSafety, AKilledRunLeavesTheOldFileOrTheNewOne) {
  TempDir dir;
  const std::string f = dir.File("big.conf");
  std::string old_text = "first = old\n";
  for (int i = 0; old_text.size() < (8u << 20); ++i)
    old_text += "filler line " + std::to_string(i) + "\n";
  std::string new_text = old_text;
  new_text.replace(8, 3, "new");

  auto start = [&] {
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(kTool.c_str(), kTool.c_str(), f.c_str(), "first", "new", "old", nullptr);
      _exit(127);
    }
    return pid;
  };
  WriteFile(f, old_text);
  auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(start(), &status, 0);
  const auto full = std::chrono::steady_clock::now() - t0;
  ASSERT_EQ(ReadFile(f), new_text);

  int olds = 0, news = 0;
  // Kill moments spread over a run, then later ones until a run has been seen to finish (the
  // machine may be slower now than when the run was timed).
  for (int i = 0; i <= 15 || (news == 0 && i < 60); ++i) {
    WriteFile(f, old_text);
    pid_t pid = start();
    std::this_thread::sleep_for(full * i / 15);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    std::string now = ReadFile(f);
    if (now == old_text) {
      ++olds;
    } else {
      ++news;
      ASSERT_EQ(now, new_text) << "killed after " << i << "/15 of a run";
    }
  }
  EXPECT_GT(olds, 0);
  EXPECT_GT(news, 0);
}

// Runs configtool in a private mount namespace in which `dir` has been made read-only (or a
// small full tmpfs) and reports (status, out, err, file unchanged, other files left).
struct Sandboxed {
  RunResult run;
  bool unchanged = false;
  int files = 0;
};
Sandboxed RunWhereWritesFail(const std::string& dir, bool full_disk,
                             const std::vector<std::string>& args, const std::string& contents) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
      _exit(2);
    const std::string file = dir + "/conf";
    if (full_disk) {
      if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0) _exit(3);
      WriteFile(file, contents);
    } else {
      WriteFile(file, contents);
      if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
          mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        _exit(3);
    }
    std::vector<std::string> argv = {kTool, file};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = test_support::Run(argv);
    int files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir)) files += entry.exists();
    std::string text = std::to_string(r.status) + '\0' + (ReadFile(file) == contents ? "1" : "0") +
                       '\0' + std::to_string(files) + '\0' + r.out + '\0' + r.err;
    ssize_t written = write(report[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 4);
  }
  close(report[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;) text.append(buf, n);
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '\0') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  Sandboxed s;
  if (parts.size() != 5) return s;
  s.run.status = std::stoi(parts[0]);
  s.unchanged = parts[1] == "1";
  s.files = std::stoi(parts[2]);
  s.run.out = parts[3];
  s.run.err = parts[4];
  return s;
}

TEST(ConfigtoolSafety, AFailedWriteIsReportedAndLeavesTheFileWhole) {
  TempDir dir;
  if (!test_support::IsRoot()) {
    // Without root: a folder we may not write to.
    const std::string f = dir.File("conf");
    WriteFile(f, kService);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    RunResult r = Tool({f, "disable", "no", "yes"});
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(f), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(f), kService);
    GTEST_SKIP() << "a read-only mount and a full disk need root";
  }
  const std::string big_service = kService + std::string(40 << 10, '#') + "\n";
  struct Case {
    bool full_disk;
    std::vector<std::string> args;
    std::string contents;
  } cases[] = {
      {false, {"disable", "no", "yes"}, kService},
      {false, {"ProgramArguments", "/srv/tftp"}, kDaemonPlist},
      {false, {"ProgramArguments"}, kDaemonPlist},
      {true, {"disable", "no", "yes"}, big_service},
  };
  for (const Case& c : cases) {
    Sandboxed s = RunWhereWritesFail(dir.path(), c.full_disk, c.args, c.contents);
    EXPECT_EQ(s.run.status, 1) << c.args[0] << " " << s.run.err;
    EXPECT_EQ(s.run.out, "");
    EXPECT_NE(s.run.err.find(dir.path() + "/conf"), std::string::npos) << s.run.err;
    EXPECT_TRUE(s.unchanged);
    EXPECT_EQ(s.files, 1) << "a temporary file was left behind";
  }
}

// Limits the caller set on configtool (prlimit): a run short of descriptors or over its
// file-size limit fails with status 1 and the reason, and leaves the file whole and nothing
// else behind; it is never reported as an edit, nor killed by SIGXFSZ.
TEST(ConfigtoolSafety, ResourceLimitsFailTheRunAndLeaveTheFileWhole) {
  TempDir dir;
  const std::string f = dir.File("conf");
  const std::string big = kService + std::string(4 << 20, '#') + "\n";
  // Descriptor limits from one the loader itself cannot live with up: each run either edits or
  // fails with the reason; the lowest the run lives with fails, whatever the test inherited.
  std::vector<std::string> limits;
  for (int n = 4; n <= 12; ++n) limits.push_back("--nofile=" + std::to_string(n));
  limits.push_back("--fsize=1000000");
  int short_of_descriptors = 0;
  for (const std::string& limit : limits) {
    SCOPED_TRACE(limit);
    const bool fsize = limit.starts_with("--fsize");
    const std::string& contents = fsize ? big : kService;
    WriteFile(f, contents);
    RunResult r =
        test_support::Run({"/usr/bin/prlimit", limit, "--", kTool, f, "disable", "no", "yes"});
    if (r.status == 127 && r.err.find("error while loading shared libraries") != std::string::npos)
      continue;  // not started: the descriptors inherited leave the loader none
    if (r.status == 0 && !fsize) {
      EXPECT_EQ(r.out, "1");
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(r.out, "");
      if (fsize) {
        // Written, or copied in the kernel: either way the limit's own reason.
        EXPECT_TRUE(r.err == "configtool: cannot replace " + f + ": writing: File too large\n" ||
                    r.err == "configtool: cannot replace " + f + ": copying: File too large\n")
            << r.err;
      } else {
        ++short_of_descriptors;
        EXPECT_NE(r.err.find("Too many open files"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(f), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      }
      EXPECT_EQ(ReadFile(f), contents);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1)
        << "a temporary file was left behind";
  }
  EXPECT_GE(short_of_descriptors, 1);
}

// What configtool says about a file it cannot use: an ordinary user's run on a file it may not
// read is told "File not found"; a property list of 4 GiB is refused without being read; a path
// holding a line break or a carriage return is named on one line.
TEST(ConfigtoolMessages, UnreadableHugeAndOddlyNamedFiles) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string secret = dir.File("secret");
  WriteFile(secret, kService);
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  std::vector<std::string> as_user;  // runs an ordinary user's configtool
  if (test_support::IsRoot()) {
    as_user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  } else {
    ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"disable", "no", "yes"},
                                               {"ProgramArguments", "/srv"},
                                               {"ProgramArguments"}}) {
    std::vector<std::string> argv = as_user;
    argv.push_back(kTool);
    argv.push_back(secret);
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = test_support::Run(argv);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "File not found: " + secret + "\n");
  }
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(secret), kService);

  // Exactly 4 GiB (a sparse file): refused before it is read, so even within an address space
  // too small to hold it. (The sanitizers need their own large address space.)
  const std::string huge = dir.File("huge.plist");
  WriteFile(huge, kDaemonPlist);
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(platform::kMaxPlistFileSize)), 0);
  std::vector<std::string> bounded = {"/usr/bin/prlimit", "--as=1073741824", "--"};
#if defined(__SANITIZE_ADDRESS__)
  bounded.clear();
#endif
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"ProgramArguments", "/srv"}, {"ProgramArguments"}}) {
    std::vector<std::string> argv = bounded;
    argv.push_back(kTool);
    argv.push_back(huge);
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = test_support::Run(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, args.size() == 2 ? "0" : "");
    EXPECT_EQ(r.err, "configtool: " + huge +
                         ": the file is 4 GiB or larger; the file is left unchanged\n");
  }
  struct stat st;
  ASSERT_EQ(stat(huge.c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), platform::kMaxPlistFileSize);
  EXPECT_LT(st.st_blocks, 1024) << "the file was filled";
  ASSERT_EQ(unlink(huge.c_str()), 0);

  // Memory that runs out while a property list is read (a binary one is read whole) fails the
  // run: status 1, the reason, nothing on standard output, the file as it was.
#if !defined(__SANITIZE_ADDRESS__)
  const std::string big = dir.File("big.plist");
  WriteFile(big, "bplist00");
  ASSERT_EQ(truncate(big.c_str(), off_t{512} << 20), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"ProgramArguments", "/srv"}, {"ProgramArguments"}}) {
    std::vector<std::string> argv = {"/usr/bin/prlimit", "--as=268435456", "--", kTool, big};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = test_support::Run(argv);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "configtool: " + big + ": " + platform::kPlistNoMemory +
                         "; the file is left unchanged\n");
  }
  ASSERT_EQ(stat(big.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, off_t{512} << 20);
  ASSERT_EQ(unlink(big.c_str()), 0);
#endif

  // A file that is not UTF-8 text, its name holding CR, LF and both.
  for (const char* name : {"a\rb", "a\nb", "a\r\nb", "\r"}) {
    const std::string odd = dir.File(name);
    WriteFile(odd, "disable = yes \xFF\n");
    RunResult r = Tool({odd, "disable", "no", "yes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0");
    std::string shown = odd;
    for (char& c : shown) {
      if (c == '\r' || c == '\n') c = '?';
    }
    EXPECT_EQ(r.err, "configtool: " + shown + ": not UTF-8 text; the file is left unchanged\n");
  }
}

// A process of the user nobody that holds a reader's lock on a file, as `flock -s FILE sleep
// 1000` would. Told to go, it runs `then` (still as that user) and ends, which releases the lock.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path, std::function<void()> then = {}) {
    int ready[2], go[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(go, O_CLOEXEC) != 0) return;
    child_.emplace(fork());
    if (child_->pid() == 0) {
      if (!test_support::BecomeNobody()) _exit(100);
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || flock(fd, LOCK_SH) != 0) _exit(101);
      char c = 'L';
      if (write(ready[1], &c, 1) != 1) _exit(102);
      if (read(go[0], &c, 1) == 1 && then) then();
      _exit(0);
    }
    close(ready[1]);
    close(go[0]);
    go_ = go[1];
    char c;
    locked_ = read(ready[0], &c, 1) == 1;
    close(ready[0]);
  }
  ~LockHolder() {
    if (go_ >= 0) close(go_);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool locked() const { return locked_; }
  // Lets it go on; returns once it has ended.
  void Release() {
    if (go_ >= 0 && write(go_, "g", 1) != 1) ADD_FAILURE() << "the holder is gone";
    close(go_);
    go_ = -1;
    EXPECT_EQ(child_ ? child_->Wait() : -1, 0);
  }

 private:
  std::optional<test_support::ForkedChild> child_;  // killed and reaped unless released
  int go_ = -1;
  bool locked_ = false;
};

// Waits until a running configtool holds the file with inode `ino` open, so that it is past
// opening the file and waits for its lock.
bool ConfigtoolHasOpen(ino_t ino) {
  struct stat tool;
  if (stat(kTool.c_str(), &tool) != 0) return false;
  for (int i = 0; i < 2000; ++i) {
    std::error_code ec;
    for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
      struct stat exe;
      if (stat((process.path() / "exe").c_str(), &exe) != 0 || exe.st_ino != tool.st_ino ||
          exe.st_dev != tool.st_dev)
        continue;
      for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", ec)) {
        struct stat st;
        if (stat(fd.path().c_str(), &st) == 0 && st.st_ino == ino) return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

using test_support::kNobody;

// Root's configtool run on a file in a folder that another user (nobody) owns and can write.
class ConfigtoolInAUsersFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRoot()) GTEST_SKIP() << "runs configtool as root against another user";
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    users_ = dir_.File("users");
    ASSERT_EQ(mkdir(users_.c_str(), 0755), 0);
    ASSERT_EQ(chown(users_.c_str(), kNobody, kNobody), 0);
    conf_ = users_ + "/conf";
    WriteFile(conf_, kService);
    ASSERT_EQ(chown(conf_.c_str(), kNobody, kNobody), 0);
    // A file of root's elsewhere, which the user would like root to write.
    victim_ = dir_.File("victim");
    WriteFile(victim_, kService);
  }
  // Runs configtool on `path` in the background until it waits for the lock `holder` keeps,
  // then lets the holder act and go; returns configtool's result.
  RunResult RunWhileHeld(LockHolder& holder, const std::string& path) {
    EXPECT_TRUE(holder.locked());
    RunResult r;
    std::thread run([&] { r = Tool({path, "disable", "no", "yes"}); });
    EXPECT_TRUE(ConfigtoolHasOpen(Inode(path)));
    holder.Release();
    run.join();
    return r;
  }

  TempDir dir_;
  std::string users_, conf_, victim_;
};

// flock -s conf sleep 1000, by the user: root's run gives up after 10 seconds.
TEST_F(ConfigtoolInAUsersFolder, ALockHeldForEverIsGivenUpAfterTenSeconds) {
  LockHolder holder(conf_);
  ASSERT_TRUE(holder.locked());
  const auto start = std::chrono::steady_clock::now();
  RunResult r = test_support::Run(
      {"/usr/bin/timeout", "-k", "5", "40", kTool, conf_, "disable", "no", "yes"});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "configtool: cannot lock " + conf_ + ": the file is locked by another process\n");
  EXPECT_GE(waited, std::chrono::seconds(10));
  EXPECT_LT(waited, std::chrono::seconds(20));
  EXPECT_EQ(ReadFile(conf_), kService);
}

// While root's run waits for the lock, the user swaps the file for a link to root's file:
// the link is not followed and nothing is written anywhere.
TEST_F(ConfigtoolInAUsersFolder, AFileSwappedForALinkIsNotFollowed) {
  LockHolder holder(conf_, [this] {
    if (rename(conf_.c_str(), (conf_ + ".old").c_str()) != 0 ||
        symlink(victim_.c_str(), conf_.c_str()) != 0)
      _exit(103);
  });
  RunResult r = RunWhileHeld(holder, conf_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "configtool: cannot lock " + conf_ +
                       ": the file was replaced while waiting for its lock\n");
  EXPECT_EQ(ReadFile(victim_), kService);
  EXPECT_EQ(ReadFile(conf_ + ".old"), kService);
}

// The folder renamed while root's run waits: the file it opened is the one edited.
TEST_F(ConfigtoolInAUsersFolder, AFolderRenamedMeanwhileChangesNothing) {
  const std::string sub = users_ + "/sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  ASSERT_EQ(chown(sub.c_str(), kNobody, kNobody), 0);
  WriteFile(sub + "/conf", kService);
  LockHolder holder(sub + "/conf", [&] {
    if (rename(sub.c_str(), (users_ + "/moved").c_str()) != 0) _exit(103);
  });
  RunResult r = RunWhileHeld(holder, sub + "/conf");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1");
  EXPECT_NE(ReadFile(users_ + "/moved/conf").find("disable\t\t= no"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(sub));
}

// A link another user placed in a sticky folder anyone can write to (as /tmp) is not
// followed by root, as the kernel's protected_symlinks would have it, whatever that setting is:
// neither as the file itself (/tmp/LINK) nor as a folder on its path (/tmp/LINK/conf, LINK
// leading to a folder only root may enter).
TEST_F(ConfigtoolInAUsersFolder, ALinkOfAnotherUserInAStickyFolderIsNotFollowed) {
  const std::string shared = dir_.File("shared"), hidden = dir_.File("hidden");
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(mkdir(hidden.c_str(), 0700), 0);
  WriteFile(hidden + "/conf", kService);
  const std::string link = shared + "/link";
  const std::pair<std::string, std::string> cases[] = {{victim_, link}, {hidden, link + "/conf"}};
  for (const auto& [target, path] : cases) {
    SCOPED_TRACE(path);
    unlink(link.c_str());
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), kNobody, kNobody), 0);
    RunResult r = Tool({path, "disable", "no", "yes"});
    EXPECT_EQ(ReadFile(victim_), kService);
    EXPECT_EQ(ReadFile(hidden + "/conf"), kService);
    if (ReadFile("/proc/sys/fs/protected_symlinks") == "0\n") {
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "0");
      EXPECT_EQ(r.err, "configtool: " + link +
                           ": a symbolic link in a sticky folder anyone may write to, owned "
                           "neither by us nor by the folder's owner, is not followed; the file "
                           "is left unchanged\n");
    } else {
      // The kernel refuses it already, to the check that the file exists.
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "File not found: " + path + "\n");
    }
  }
}

}  // namespace
