// A small TFTP client (RFC 1350, octet mode), for the diagnosis: it fetches one file from a
// server and tells what came back.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace tftpc {

struct TftpResult {
  bool answered = false;  // any packet came back (data or an error packet)
  bool ok = false;        // the whole file arrived
  std::string error;      // "timed out after 2 s", "error 1: File not found", ...
  std::string data;
};

TftpResult TftpGet(const std::string& address, unsigned port, const std::string& file,
                   std::chrono::milliseconds timeout, std::size_t max_bytes = 1 << 20);

}  // namespace tftpc
