#include "tftp-controller/checks/tftp_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/files/owned_fd.h"

namespace tftpc {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlock = 512;  // no options are asked for, so blocks are of this size
constexpr int kMostRepeats = 8;      // a block sent again, in a row
enum Opcode : std::uint16_t { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5, kOack = 6 };

std::uint16_t Word(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

void PutWord(std::string* packet, unsigned value) {
  packet->push_back(static_cast<char>((value >> 8) & 0xff));
  packet->push_back(static_cast<char>(value & 0xff));
}

std::string Seconds(std::chrono::milliseconds timeout) {
  auto ms = timeout.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

// The text of an error packet, cut at its end or its NUL, with anything unprintable shown as '?'
// (a server's words end up in a window).
std::string ErrorText(const unsigned char* text, std::size_t length) {
  std::string out;
  for (std::size_t i = 0; i < length && text[i] != 0 && out.size() < 200; ++i)
    out.push_back(text[i] >= 0x20 && text[i] < 0x7f ? static_cast<char>(text[i]) : '?');
  return out;
}

bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET)
    return std::memcmp(&reinterpret_cast<const sockaddr_in&>(a).sin_addr,
                       &reinterpret_cast<const sockaddr_in&>(b).sin_addr, sizeof(in_addr)) == 0;
  return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                     &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr)) == 0;
}

unsigned PortOf(const sockaddr_storage& a) {
  return ntohs(a.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in&>(a).sin_port
                                      : reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
}

// One transfer: the socket, the server's address and, once its first answer came, its port.
class Transfer {
 public:
  Transfer(int fd, const sockaddr_storage& server, socklen_t length)
      : fd_(fd), server_(server), length_(length) {}

  // False when the packet cannot leave (no route to the address): the reason is in *error.
  bool Send(const std::string& packet, std::string* error = nullptr) {
    last_ = packet;
    if (::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&server_),
                 length_) >= 0)
      return true;
    if (error) *error = std::string("sending: ") + std::strerror(errno);
    return false;
  }

  // Waits for the next packet of the server: the last packet sent goes out once more half way.
  // False on a timeout or a failure of the socket (in *error).
  bool Receive(std::chrono::milliseconds timeout, std::string* packet, std::string* error) {
    const auto start = Clock::now();
    const auto resend_at = start + timeout / 2, end = start + timeout;
    bool resent = false;
    for (;;) {
      auto now = Clock::now();
      if (now >= end) {
        *error = "timed out after " + Seconds(timeout);
        return false;
      }
      if (!resent && now >= resend_at) {
        resent = true;
        ::sendto(fd_, last_.data(), last_.size(), 0, reinterpret_cast<const sockaddr*>(&server_),
                 length_);
      }
      auto until = resent ? end : resend_at;
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
      pollfd p{fd_, POLLIN, 0};
      int ready = ::poll(&p, 1, static_cast<int>(wait));
      if (ready < 0 && errno != EINTR) {
        *error = std::string("waiting for an answer: ") + std::strerror(errno);
        return false;
      }
      if (ready <= 0) continue;
      sockaddr_storage from{};
      socklen_t from_length = sizeof from;
      ssize_t n = ::recvfrom(fd_, buffer_.data(), buffer_.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &from_length);
      if (n < 0) {
        // An ICMP port unreachable comes back as ECONNREFUSED on some kernels' paths; it is
        // no answer of a server, so the wait goes on.
        if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED) continue;
        *error = std::string("receiving: ") + std::strerror(errno);
        return false;
      }
      if (!SameHost(from, server_)) continue;  // another host's packet is none of ours
      unsigned port = PortOf(from);
      if (tid_ != 0 && port != tid_) {
        // A packet from another port of the server: told so, and the transfer goes on.
        std::string reply;
        PutWord(&reply, kError);
        PutWord(&reply, 5);
        reply += "Unknown transfer ID";
        reply.push_back('\0');
        ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from),
                 from_length);
        continue;
      }
      if (tid_ == 0) {
        tid_ = port;  // the server's answers come from its own port from now on
        auto net_port = htons(static_cast<std::uint16_t>(port));
        if (server_.ss_family == AF_INET)
          reinterpret_cast<sockaddr_in&>(server_).sin_port = net_port;
        else
          reinterpret_cast<sockaddr_in6&>(server_).sin6_port = net_port;
      }
      packet->assign(buffer_.data(), static_cast<std::size_t>(n));
      return true;
    }
  }

  void SendError(unsigned code, const std::string& text) {
    std::string packet;
    PutWord(&packet, kError);
    PutWord(&packet, code);
    packet += text;
    packet.push_back('\0');
    Send(packet);
  }

 private:
  int fd_;
  sockaddr_storage server_;
  socklen_t length_;
  unsigned tid_ = 0;
  std::string last_;
  std::string buffer_ = std::string(65536, '\0');  // any datagram whole, to tell its size
};

}  // namespace

TftpResult TftpGet(const std::string& address, unsigned port, const std::string& file,
                   std::chrono::milliseconds timeout, std::size_t max_bytes) {
  TftpResult result;
  if (file.empty() || file.find('\0') != std::string::npos || file.size() > 400) {
    result.error = "the file name cannot be asked for";
    return result;
  }
  if (port == 0 || port > 65535) {
    result.error = "no such port: " + std::to_string(port);
    return result;
  }
  std::string host = address;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;  // a literal address: no name is looked up
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    result.error = "not an address: " + address;
    return result;
  }
  sockaddr_storage server{};
  socklen_t length = found->ai_addrlen;
  std::memcpy(&server, found->ai_addr, length);
  int family = found->ai_family;
  ::freeaddrinfo(found);

  platform::OwnedFd socket(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    result.error = std::string("no socket: ") + std::strerror(errno);
    return result;
  }
  Transfer transfer(socket.get(), server, length);
  std::string request;
  PutWord(&request, kRrq);
  request += file;
  request.push_back('\0');
  request += "octet";
  request.push_back('\0');
  if (!transfer.Send(request, &result.error)) return result;

  std::uint16_t expected = 1;
  int repeats = 0;  // of the last block, in a row
  std::string packet;
  for (;;) {
    std::string error;
    if (!transfer.Receive(timeout, &packet, &error)) {
      if (result.answered) error += " waiting for block " + std::to_string(expected);
      result.error = error;
      return result;
    }
    result.answered = true;
    auto bytes = reinterpret_cast<const unsigned char*>(packet.data());
    if (packet.size() < 4) {
      result.error = "a malformed packet of " + std::to_string(packet.size()) + " bytes";
      transfer.SendError(4, "Malformed packet");
      return result;
    }
    std::uint16_t opcode = Word(bytes), number = Word(bytes + 2);
    if (opcode == kError) {
      result.error =
          "error " + std::to_string(number) + ": " + ErrorText(bytes + 4, packet.size() - 4);
      return result;
    }
    if (opcode != kData) {
      result.error = "an unexpected packet (opcode " + std::to_string(opcode) + ")";
      transfer.SendError(4, "Illegal TFTP operation");
      return result;
    }
    std::size_t size = packet.size() - 4;
    if (size > kBlock) {
      result.error =
          "a data packet of " + std::to_string(size) + " bytes, above " + std::to_string(kBlock);
      transfer.SendError(4, "Block too large");
      return result;
    }
    std::string ack;
    PutWord(&ack, kAck);
    if (number == static_cast<std::uint16_t>(expected - 1) && expected != 1) {
      // Our acknowledgement was lost and the server sent the block again; a server that only
      // ever does so would keep the client waiting for good.
      if (++repeats > kMostRepeats) {
        result.error = "block " + std::to_string(number) + " came again and again";
        transfer.SendError(0, "Too many blocks sent again");
        return result;
      }
      PutWord(&ack, number);
      transfer.Send(ack);
      continue;
    }
    repeats = 0;
    if (number != expected) {
      result.error = "block " + std::to_string(number) + " came where block " +
                     std::to_string(expected) + " was due";
      transfer.SendError(4, "Unexpected block");
      return result;
    }
    if (result.data.size() + size > max_bytes) {
      result.error = "the file is larger than " + std::to_string(max_bytes) + " bytes";
      transfer.SendError(3, "Too large for the client");
      return result;
    }
    result.data.append(packet, 4, size);
    PutWord(&ack, number);
    transfer.Send(ack);
    if (size < kBlock) {
      result.ok = true;
      return result;
    }
    ++expected;
  }
}

}  // namespace tftpc
