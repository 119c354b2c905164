#include "tftp-controller/checks/tftp_client.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <fstream>
#include <functional>
#include <thread>

#include "platform/files/owned_fd.h"
#include "tests/scratch_folder.h"
#include "tftp-controller/checks/real_tftpd_testing.h"

namespace tftpc {
namespace {

using std::chrono::milliseconds;

std::string Word(unsigned v) {
  return {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)};
}
std::string Data(unsigned block, const std::string& bytes) {
  return Word(3) + Word(block) + bytes;
}
std::string Error(unsigned code, const std::string& text) {
  return Word(5) + Word(code) + text + std::string(1, '\0');
}

// A UDP socket of the fake server's on 127.0.0.1, with a port of its own.
struct Socket {
  platform::OwnedFd fd{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  unsigned port = 0;
  Socket() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), length);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
  }
  // The next packet within `ms`, or "" (and *from left alone) when none comes.
  std::string Receive(int ms, sockaddr_in* from = nullptr) {
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return "";
    char buffer[1024];
    sockaddr_in source{};
    socklen_t length = sizeof source;
    ssize_t n = ::recvfrom(fd.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source),
                           &length);
    if (from) *from = source;
    return n > 0 ? std::string(buffer, n) : "";
  }
  void SendTo(const sockaddr_in& to, const std::string& packet) {
    ::sendto(fd.get(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to);
  }
};

// A server that answers a read request the way a script says, and notes what the client sent.
struct FakeServer {
  Socket listener, transfer, stranger;
  sockaddr_in client{};
  std::string seen;  // "rrq", "ack N", "error N" and "stranger: error N", one a line

  void Note(const std::string& prefix, const std::string& packet) {
    if (packet.size() < 4) return;
    unsigned op =
        static_cast<unsigned char>(packet[0]) << 8 | static_cast<unsigned char>(packet[1]);
    unsigned n = static_cast<unsigned char>(packet[2]) << 8 | static_cast<unsigned char>(packet[3]);
    seen += prefix + (op == 1   ? "rrq"
                      : op == 4 ? "ack " + std::to_string(n)
                      : op == 5 ? "error " + std::to_string(n)
                                : "opcode " + std::to_string(op));
    seen += "\n";
  }
  void AwaitRequest() { Note("", listener.Receive(2000, &client)); }
  void Send(const std::string& packet) { transfer.SendTo(client, packet); }
  void FromStranger(const std::string& packet) {
    stranger.SendTo(client, packet);
    Note("stranger: ", stranger.Receive(2000));
  }
  void Expect(int ms = 2000) { Note("", transfer.Receive(ms)); }
  void CountRequests(int ms) {
    for (std::string p; !(p = listener.Receive(ms)).empty();) Note("", p);
  }
};

struct Scenario {
  const char* name;
  std::function<void(FakeServer&)> script;
  std::size_t max_bytes;
  bool answered, ok;
  std::string error, data, seen;
};

TEST(TftpGet, AnswersOfAFakeServer) {
  const std::string block(512, 'a');
  const Scenario scenarios[] = {
      {"an error packet", [](FakeServer& s) { s.Send(Error(2, "Access violation")); }, 1 << 20,
       true, false, "error 2: Access violation", "", "rrq\n"},
      {"an error text unterminated and unprintable",
       [](FakeServer& s) { s.Send(Word(5) + Word(0) + "bad\x01\n"); }, 1 << 20, true, false,
       "error 0: bad??", "", "rrq\n"},
      {"a packet too short", [](FakeServer& s) { s.Send(Word(3)), s.Expect(); }, 1 << 20, true,
       false, "a malformed packet of 2 bytes", "", "rrq\nerror 4\n"},
      {"a block too large",
       [](FakeServer& s) { s.Send(Data(1, std::string(600, 'x'))), s.Expect(); }, 1 << 20, true,
       false, "a data packet of 600 bytes, above 512", "", "rrq\nerror 4\n"},
      {"options acknowledged that were not asked for",
       [](FakeServer& s) { s.Send(Word(6) + "blksize" + '\0' + "1468" + '\0'), s.Expect(); },
       1 << 20, true, false, "an unexpected packet (opcode 6)", "", "rrq\nerror 4\n"},
      {"the second block first", [](FakeServer& s) { s.Send(Data(2, "x")), s.Expect(); }, 1 << 20,
       true, false, "block 2 came where block 1 was due", "", "rrq\nerror 4\n"},
      {"an empty file", [](FakeServer& s) { s.Send(Data(1, "")), s.Expect(); }, 1 << 20, true, true,
       "", "", "rrq\nack 1\n"},
      {"another port of the server is refused and the transfer goes on",
       [&](FakeServer& s) {
         s.Send(Data(1, block)), s.Expect();
         s.FromStranger(Data(2, "evil"));
         s.Send(Data(2, "end")), s.Expect();
       },
       1 << 20, true, true, "", block + "end", "rrq\nack 1\nstranger: error 5\nack 2\n"},
      {"a block sent again is acknowledged again",
       [&](FakeServer& s) {
         s.Send(Data(1, block)), s.Expect();
         s.Send(Data(1, block)), s.Expect();
         s.Send(Data(2, "end")), s.Expect();
       },
       1 << 20, true, true, "", block + "end", "rrq\nack 1\nack 1\nack 2\n"},
      {"a block sent again without end",
       [&](FakeServer& s) {
         s.Send(Data(1, block)), s.Expect();
         for (int i = 0; i < 9; ++i) s.Send(Data(1, block)), s.Expect();
       },
       1 << 20, true, false, "block 1 came again and again", block,
       "rrq\n" +
           [] {
             std::string acks;
             for (int i = 0; i < 9; ++i) acks += "ack 1\n";
             return acks;
           }() +
           "error 0\n"},
      {"silence after a block: the acknowledgement goes once more, then the wait ends",
       [&](FakeServer& s) { s.Send(Data(1, block)), s.Expect(), s.Expect(), s.Expect(700); },
       1 << 20, true, false, "timed out after 0.4 s waiting for block 2", block,
       "rrq\nack 1\nack 1\n"},
      {"no answer: the request goes once more, then the wait ends",
       [](FakeServer& s) { s.CountRequests(700); }, 1 << 20, false, false, "timed out after 0.4 s",
       "", "rrq\nrrq\n"},
      {"a file larger than the client takes",
       [&](FakeServer& s) {
         s.Send(Data(1, block)), s.Expect();
         s.Send(Data(2, std::string(200, 'b'))), s.Expect();
       },
       600, true, false, "the file is larger than 600 bytes", block, "rrq\nack 1\nerror 3\n"},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    FakeServer server;
    std::thread script([&] {
      server.AwaitRequest();
      scenario.script(server);
    });
    TftpResult r = TftpGet("127.0.0.1", server.listener.port, "boot.bin", milliseconds(400),
                           scenario.max_bytes);
    script.join();
    EXPECT_EQ(r.answered, scenario.answered);
    EXPECT_EQ(r.ok, scenario.ok);
    EXPECT_EQ(r.error, scenario.error);
    EXPECT_EQ(r.data, scenario.data);
    EXPECT_EQ(server.seen, scenario.seen);
  }
}

TEST(TftpGet, RefusesWhatCannotBeAskedFor) {
  EXPECT_EQ(TftpGet("example.org", 69, "a", milliseconds(100)).error,
            "not an address: example.org");
  EXPECT_EQ(TftpGet("127.0.0.1", 70000, "a", milliseconds(100)).error, "no such port: 70000");
  EXPECT_EQ(TftpGet("127.0.0.1", 69, std::string("a\0b", 3), milliseconds(100)).error,
            "the file name cannot be asked for");
}

TEST(TftpGet, FetchesFromTheRealServerOverIPv4AndIPv6) {
  std::string why = testing::WhyNoRealTftpd();
  if (!why.empty()) GTEST_SKIP() << why;
  test_support::ScratchFolder folder("tftp-client");
  ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
  std::string big;
  for (int i = 0; i < 3 * 512 + 7; ++i) big.push_back(static_cast<char>(i * 7 % 256));
  const std::pair<const char*, std::string> files[] = {
      {"small.txt", "served\n"}, {"two-blocks.bin", std::string(1024, '\0')}, {"big.bin", big}};
  for (const auto& [name, bytes] : files) std::ofstream(folder.File(name)) << bytes;
  for (const char* address : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(address);
    testing::RealTftpd server(folder.path(), address);
    ASSERT_TRUE(server.listening());
    for (const auto& [name, bytes] : files) {
      TftpResult r = TftpGet(address, server.port(), name, milliseconds(2000));
      EXPECT_TRUE(r.answered && r.ok) << name << ": " << r.error;
      EXPECT_EQ(r.data, bytes) << name;
    }
    TftpResult missing = TftpGet(address, server.port(), "missing", milliseconds(2000));
    EXPECT_TRUE(missing.answered);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "error 1: File not found");
    TftpResult capped = TftpGet(address, server.port(), "big.bin", milliseconds(2000), 1024);
    EXPECT_FALSE(capped.ok);
    EXPECT_EQ(capped.error, "the file is larger than 1024 bytes");
  }
}

}  // namespace
}  // namespace tftpc
