#include "utility/network_addresses.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using platform::InterfaceRecord;
using Kind = InterfaceRecord::Kind;

InterfaceRecord Address(const std::string& name, const char* dotted, bool up = true) {
  InterfaceRecord r;
  r.kind = Kind::kIPv4;
  r.name = name;
  r.flags = up ? IFF_UP : 0;
  inet_pton(AF_INET, dotted, &r.ipv4);
  return r;
}

InterfaceRecord Link(const std::string& name, std::vector<std::uint8_t> hw) {
  InterfaceRecord r;
  r.kind = Kind::kLink;
  r.name = name;
  r.flags = IFF_UP;
  r.hw = std::move(hw);
  return r;
}

// The filled entries as "name address hw" rows ("-" for no hardware address).
std::vector<std::string> Rows() {
  std::vector<std::string> rows;
  for (int i = 0; i < kAddressTableSize && ip_addrs[i] != 0; ++i) {
    rows.push_back(std::string(if_names[i]) + " " + ip_names[i] + " " +
                   (hw_addrs[i] ? hw_addrs[i] : "-"));
  }
  return rows;
}

class AddressTablesTest : public ::testing::Test {
 protected:
  void TearDown() override { FreeAddresses(); }
};

TEST_F(AddressTablesTest, ScanRulesOnCraftedRecords) {
  const std::vector<InterfaceRecord> records = {
      Link("lo", {0, 0, 0, 0, 0, 0}),
      Link("d0", {0x00, 0x1a, 0x2b, 0x0c, 0x04, 0xff}),
      Link("d1", {1, 2, 3, 4, 5, 6}),
      Link("tun0", {}),
      Address("lo", "127.0.0.1"),
      Address("d0", "192.0.2.1"),
      Address("d0:1", "192.0.2.2"),          // alias of the name just listed: skipped
      Address("d0", "198.51.100.1"),         // second address, consecutive: skipped
      Address("d1", "198.51.100.2", false),  // down
      Address("d1:0", "198.51.100.3"),       // follows d1 by name, so skipped as well
      Address("e0:9", "198.51.100.4"),       // an alias first: listed under its interface name
      Address("xLOx", "198.51.100.5"),
      Address("d0", "192.0.2.9"),  // d0 again, not consecutive: a second entry
      Address("tun0", "10.0.0.1"),
      Address("z0", "0.0.0.0"),          // would end the list early
      Link("d0", {2, 0, 0, 0, 0, 1}),    // the second d0 entry's, as its first has one
      Link("e0:9", {9, 9, 9, 9, 9, 9}),  // names match exactly: no alias cutting here
  };
  ScanIPAddresses(records);
  ScanHWAddresses(records);
  EXPECT_EQ(Rows(), (std::vector<std::string>{
                        "lo 127.0.0.1 00:00:00:00:00:00", "d0 192.0.2.1 00:1A:2B:0C:04:FF",
                        "e0 198.51.100.4 -", "xLOx 198.51.100.5 -",
                        "d0 192.0.2.9 02:00:00:00:00:01", "tun0 10.0.0.1 -"}));
  EXPECT_EQ(ip_addrs[1], htonl(0xC0000201));
  EXPECT_EQ(if_names[6], nullptr);
}

TEST_F(AddressTablesTest, StopsAtThirtyTwoEntries) {
  std::vector<InterfaceRecord> records;
  for (int i = 0; i < 40; ++i) {
    records.push_back(
        Address("n" + std::to_string(i), ("198.51.100." + std::to_string(i + 1)).c_str()));
    records.push_back(
        Link("n" + std::to_string(i), {0, 0, 0x5e, 0, 0x53, static_cast<std::uint8_t>(i)}));
  }
  ScanIPAddresses(records);
  ScanHWAddresses(records);
  std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 32u);
  EXPECT_EQ(rows.back(), "n31 198.51.100.32 00:00:5E:00:53:1F");
}

TEST_F(AddressTablesTest, RelistingFreesWhatEntriesHeld) {
  std::vector<InterfaceRecord> records = {Address("d0", "192.0.2.1"),
                                          Link("d0", {1, 2, 3, 4, 5, 6})};
  ScanIPAddresses(records);
  ScanHWAddresses(records);
  ScanHWAddresses(records);
  ScanIPAddresses(records);  // a new listing: old hardware entries no longer apply
  EXPECT_EQ(Rows(), std::vector<std::string>{"d0 192.0.2.1 -"});
  // The same on the machine's own configuration.
  InitAddresses();
  GetIPAddresses();
  GetHWAddresses();
  GetIPAddresses();
  GetHWAddresses();
  InitAddresses();
  (void)QRBApplication::allIPAddresses();
  EXPECT_EQ(if_names[0], nullptr);  // allIPAddresses leaves the tables empty
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

TEST(QRBHost, PrimaryAddressIsTheFirstIPv4) {
  EXPECT_EQ(QRBHost::primaryAddress(
                platform::Host({"2001:db8::1", "fe80::1%eth0", "192.0.2.5", "198.51.100.1"})),
            "192.0.2.5");
  EXPECT_EQ(QRBHost::primaryAddress(platform::Host({"::1", "2001:db8::2"})), std::nullopt);
  EXPECT_EQ(QRBHost::primaryAddress(platform::Host({})), std::nullopt);

  std::string err;
  auto v4 = platform::Host::WithName("192.0.2.7", &err);
  ASSERT_TRUE(v4) << err;
  EXPECT_EQ(v4->addresses(), std::vector<std::string>{"192.0.2.7"});
  auto v6 = platform::Host::WithName("2001:db8::7", &err);
  ASSERT_TRUE(v6) << err;
  EXPECT_EQ(QRBHost::primaryAddress(*v6), std::nullopt);
  EXPECT_FALSE(platform::Host::WithName("", &err));
  EXPECT_FALSE(err.empty());
}

// ---- The kernel's records, in a network namespace of our own ----

std::string IpProgram() {
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

// Runs ip with `args` (no shell), its output discarded; true on status 0.
bool Ip(const std::vector<std::string>& args) {
  static const std::string program = IpProgram();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Runs `body` in a child process inside a new, empty network namespace (gone when the child
// exits) and gives back what the body wrote. Status 0 when the body returned true.
struct NamespaceResult {
  int status = -1;
  std::string out;
};

NamespaceResult InPrivateNetwork(const std::function<bool(std::ostream&)>& body) {
  int fds[2];
  NamespaceResult result;
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::ostringstream out;
    int code = 3;
    if (unshare(CLONE_NEWNET) != 0) {
      out << "unshare: " << strerror(errno) << "\n";
    } else {
      code = body(out) ? 0 : 1;
    }
    std::string text = out.str();
    for (std::size_t done = 0; done < text.size();) {
      ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += n;
    }
    _exit(code);
  }
  close(fds[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
  close(fds[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

// Adds an interface: a dummy where the kernel has them, else an empty bridge.
bool AddInterface(const std::string& name) {
  static bool dummies = true;
  if (dummies && Ip({"link", "add", name, "type", "dummy"})) return true;
  dummies = false;
  return Ip({"link", "add", name, "type", "bridge"});
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(prefix)) lines.push_back(line.substr(prefix.size()));
  }
  return lines;
}

// Writes the kernel's records (R), the tables after a listing (T), allIPAddresses (A) and
// primaryIPAddress (P).
void Report(std::ostream& out) {
  std::string err;
  auto records = platform::ReadInterfaceRecords(&err);
  if (!records) out << "R failed: " << err << "\n";
  for (const InterfaceRecord& r : records.value_or(std::vector<InterfaceRecord>{})) {
    char dotted[INET_ADDRSTRLEN] = "";
    in_addr a{r.ipv4};
    inet_ntop(AF_INET, &a, dotted, sizeof dotted);
    out << "R " << (r.kind == Kind::kIPv4 ? "inet " : "link ") << r.name << " "
        << (r.kind == Kind::kIPv4 ? dotted : std::to_string(r.hw.size()) + " bytes")
        << ((r.flags & IFF_UP) ? " up" : " down") << "\n";
  }
  InitAddresses();
  GetIPAddresses();
  GetHWAddresses();
  for (const std::string& row : Rows()) out << "T " << row << "\n";
  FreeAddresses();
  for (const std::string& entry : QRBApplication::allIPAddresses()) out << "A " << entry << "\n";
  out << "P " << QRBApplication::primaryIPAddress().value_or("(none)") << "\n";
}

class KernelAddressesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
    if (IpProgram().empty()) GTEST_SKIP() << "no ip program";
  }
  // Runs the body; skips when the namespace cannot be had.
  std::string Run(const std::function<bool(std::ostream&)>& body) {
    NamespaceResult r = InPrivateNetwork(body);
    if (r.status == 3) return "";
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
  }
};

TEST_F(KernelAddressesTest, AliasesSecondAddressesDownAndLoopback) {
  std::string out = Run([](std::ostream& report) {
    bool ok = Ip({"link", "set", "lo", "up"}) && AddInterface("d0") &&
              Ip({"link", "set", "d0", "address", "00:1a:2b:0c:04:ff"}) &&
              Ip({"addr", "add", "192.0.2.1/24", "dev", "d0"}) &&
              Ip({"addr", "add", "192.0.2.2/24", "dev", "d0", "label", "d0:1"}) &&
              Ip({"addr", "add", "198.51.100.1/24", "dev", "d0"}) &&
              Ip({"link", "set", "d0", "up"}) && AddInterface("d1") &&
              Ip({"addr", "add", "198.51.100.2/32", "dev", "d1"}) && AddInterface("xLOx") &&
              Ip({"link", "set", "xLOx", "address", "00:00:5e:00:53:03"}) &&
              Ip({"addr", "add", "198.51.100.3/32", "dev", "xLOx"}) &&
              Ip({"link", "set", "xLOx", "up"}) && AddInterface("d2") &&
              Ip({"link", "set", "d2", "address", "00:00:5e:00:53:02"}) &&
              Ip({"addr", "add", "192.0.2.30/32", "dev", "d2"}) && Ip({"link", "set", "d2", "up"});
    if (ok) Report(report);
    return ok;
  });
  if (out.empty()) GTEST_SKIP() << "no private network namespace";
  SCOPED_TRACE(out);  // the kernel's records and what was listed from them
  // The kernel names the labelled address by its label, next to d0's other addresses.
  std::vector<std::string> inet;
  for (const std::string& r : LinesWith(out, "R inet ")) inet.push_back(r.substr(0, r.find(' ')));
  EXPECT_EQ(inet, (std::vector<std::string>{"lo", "d0", "d0", "d0:1", "d1", "xLOx", "d2"}));
  EXPECT_EQ(LinesWith(out, "T "),
            (std::vector<std::string>{
                "lo 127.0.0.1 00:00:00:00:00:00", "d0 192.0.2.1 00:1A:2B:0C:04:FF",
                "xLOx 198.51.100.3 00:00:5E:00:53:03", "d2 192.0.2.30 00:00:5E:00:53:02"}));
  EXPECT_EQ(LinesWith(out, "A "), (std::vector<std::string>{"d0: 192.0.2.1", "d2: 192.0.2.30"}));
  EXPECT_EQ(LinesWith(out, "P "), std::vector<std::string>{"d0: 192.0.2.1"});
}

TEST_F(KernelAddressesTest, OnlyLoopbackMeansNoAddress) {
  std::string out = Run([](std::ostream& report) {
    if (!Ip({"link", "set", "lo", "up"})) return false;
    Report(report);
    return true;
  });
  if (out.empty()) GTEST_SKIP() << "no private network namespace";
  SCOPED_TRACE(out);  // the kernel's records and what was listed from them
  EXPECT_EQ(LinesWith(out, "T "), std::vector<std::string>{"lo 127.0.0.1 00:00:00:00:00:00"});
  EXPECT_EQ(LinesWith(out, "A "), std::vector<std::string>{});
  EXPECT_EQ(LinesWith(out, "P "), std::vector<std::string>{"(none)"});
}

TEST_F(KernelAddressesTest, FortyInterfacesFillThirtyTwoEntries) {
  std::string out = Run([](std::ostream& report) {
    for (int i = 0; i < 40; ++i) {
      std::string name = "n" + std::to_string(i);
      if (!AddInterface(name) ||
          !Ip({"addr", "add", "198.51.100." + std::to_string(i + 1) + "/32", "dev", name}) ||
          !Ip({"link", "set", name, "up"})) {
        return false;
      }
    }
    Report(report);
    return true;
  });
  if (out.empty()) GTEST_SKIP() << "no private network namespace";
  SCOPED_TRACE(out);  // the kernel's records and what was listed from them
  std::vector<std::string> all = LinesWith(out, "A ");
  ASSERT_EQ(all.size(), 32u);
  EXPECT_EQ(all.front(), "n0: 198.51.100.1");
  EXPECT_EQ(all.back(), "n31: 198.51.100.32");
  EXPECT_EQ(LinesWith(out, "T ").size(), 32u);
}

}  // namespace
