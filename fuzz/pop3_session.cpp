// A POP3 session against a server that says arbitrary bytes, and the other texts the POP3
// receiver takes from outside: account records, server names, message headers.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "transport/accounts.h"
#include "transport/pop3/network_message.h"
#include "transport/pop3/pop3_client.h"

using namespace px::transport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  ExternalAccount a = ParseAccountRecord("fuzz@example.org", bytes);
  if (a.server.find(' ') != std::string::npos || a.user.find(' ') != std::string::npos) std::abort();
  ApplyAccountSettings(bytes, a);
  if (auto address = pop3::ParseServerAddress(bytes)) {
    if (address->host.empty() || address->port < 0 || address->port > 65535) std::abort();
  }
  pop3::HeaderScan scan = pop3::ScanHeader(bytes);
  if (scan.messageId.size() > 4096 || scan.from.size() > 4096) std::abort();

  // The server's side of a session: the input, then the end of the connection.
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  std::thread server([&] {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = ::send(sv[1], bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    ::shutdown(sv[1], SHUT_WR);
    char sink[4096];
    while (::recv(sv[1], sink, sizeof sink, 0) > 0) {
    }
  });
  {
    pop3::Pop3Client client;
    client.SetTimeout(2000);
    if (client.Adopt(sv[0])) {
      int64_t count = 0, total = 0;
      std::vector<int64_t> sizes;
      std::vector<std::string> ids;
      std::string header;
      uint64_t got = 0;
      client.Login("user", "password") && client.Stat(count, total);
      count = std::min<int64_t>(count, 1000);
      client.List(count, sizes);
      client.Uidl(count, ids);
      client.Top(1, header);
      if (header.size() > pop3::kMaxHeader + pop3::kMaxLine) std::abort();
      client.Retr(1, 1 << 20, [&](std::string_view line) {
        got += line.size();
        if (line.size() > pop3::kMaxLine) std::abort();
        return true;
      });
      if (got > (1 << 20) + pop3::kMaxLine) std::abort();
      std::vector<int> accepted;
      client.DeleMany({1, 2}, accepted);
      client.Quit();
    }
  }  // the client closes its end
  server.join();
  ::close(sv[1]);
  return 0;
}
