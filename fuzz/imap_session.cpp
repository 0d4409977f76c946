// IMAP responses from a server that says arbitrary bytes: the parser on the input as one
// response, then a whole receiving session (greeting, log-in, SELECT, listing, fetching,
// deletion) against the input as the server's side.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "transport/imap/imap_client.h"
#include "transport/imap/imap_response.h"

using namespace px::transport;

namespace {

size_t Depth(const imap::Value& v) {
  size_t d = 0;
  for (const auto& c : v.list) d = std::max(d, Depth(c));
  return d + (v.type == imap::Value::Type::List ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto r = imap::ParseResponse(bytes)) {
    for (const auto& v : r->values)
      if (Depth(v) > imap::kMaxDepth + 1) std::abort();
  }
  (void)imap::TrailingLiteral(bytes);

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
    imap::ImapClient client;
    client.SetTimeout(2000);
    if (client.Adopt(sv[0]) && client.Login("user", "p\xc3\xa4ss")) {
      imap::MailboxState box;
      std::vector<imap::MessageInfo> messages;
      if (client.Select("INBOX", false, box) && client.ListMessages(messages)) {
        std::vector<uint32_t> uids;
        for (const auto& m : messages) uids.push_back(m.uid);
        size_t total = 0;
        client.FetchMessages(uids, [&](uint32_t, std::string_view body) {
          total += body.size();
          return true;
        });
        client.DeleteMessages(uids);
        bool grew = false;
        client.Idle(10, grew);
      }
    }
    client.Close();
  }
  ::close(sv[0]);
  server.join();
  ::close(sv[1]);
  return 0;
}
