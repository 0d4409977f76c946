#pragma once
// An IMAP client on our own mail socket (TLS through OpenSSL, verified as for POP3): just what
// receiving needs. Log-in, EXAMINE/SELECT with the mailbox's UIDVALIDITY and UIDNEXT, listing
// by UID, fetching whole messages with BODY.PEEK[] (the server's \Seen flag is left alone),
// \Deleted with UID EXPUNGE, and IDLE. Untagged responses between commands are taken in at
// any time; every response is capped in size.
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "transport/imap/imap_response.h"
#include "transport/mail_socket.h"
#include "transport/pop3/pop3_client.h"

namespace px::transport::imap {

using pop3::Security;

inline constexpr int kImapPort = 143;
inline constexpr int kImapsPort = 993;
// The longest response other than a message (listings of large mailboxes included).
inline constexpr uint64_t kMaxResponse = 64ull * 1024 * 1024;
// The longest message taken.
inline constexpr uint64_t kMaxMessage = 512ull * 1024 * 1024;

struct MailboxState {
  int64_t exists = 0;
  uint32_t uidValidity = 0;
  uint32_t uidNext = 0;          // 0: the server did not say
  uint64_t highestModSeq = 0;    // 0: no CONDSTORE
  bool readOnly = false;
};

struct MessageInfo {
  uint32_t uid = 0;
  int64_t size = -1;
};

class ImapClient : public MailSocket {
public:
  // Connects, reads the greeting, learns the capabilities and starts TLS as `security` says
  // (Auto: IMAPS on 993, and only when that port refuses, STARTTLS on 143).
  bool Connect(const std::string& host, int port, Security security);
  // Takes a plain socket already connected to a server (fuzzing, replayed sessions).
  bool Adopt(int fd);
  // LOGIN (refused: LoginRejected; a server that wants OAuth2 instead: NeedsOAuth).
  bool Login(const std::string& user, const std::string& password);
  // AUTHENTICATE with a SASL mechanism and its initial response (base64 made here).
  bool Authenticate(std::string_view mechanism, std::string_view initialResponse);
  // SELECT, or EXAMINE when `readOnly`.
  bool Select(const std::string& mailbox, bool readOnly, MailboxState& state);
  // UID and size of every message of the selected mailbox, by ascending UID.
  bool ListMessages(std::vector<MessageInfo>& messages);
  // The header of each of `uids` (BODY.PEEK[HEADER]); `header` is called once per message.
  bool FetchHeaders(const std::vector<uint32_t>& uids,
                    const std::function<void(uint32_t uid, std::string_view header)>& header);
  // Whole messages (BODY.PEEK[]); `message` is called as each arrives and returns false when
  // it could not keep it (the fetch goes on). Messages the server no longer has are passed
  // over.
  bool FetchMessages(const std::vector<uint32_t>& uids,
                     const std::function<bool(uint32_t uid, std::string_view bytes)>& message);
  // \Deleted on `uids`, then UID EXPUNGE of just those (or EXPUNGE without UIDPLUS).
  bool DeleteMessages(const std::vector<uint32_t>& uids);
  // IDLE until the mailbox grows, `waitMs` passes or Stop(); true with `grew` set when new
  // messages arrived. Without IDLE a NOOP is sent instead (after `waitMs`).
  bool Idle(int waitMs, bool& grew);
  bool Logout();

  bool Has(std::string_view capability) const;
  // Whether the server offers a SASL mechanism.
  bool Offers(std::string_view mechanism) const { return Has("AUTH=" + std::string(mechanism)); }
  const std::set<std::string>& capabilities() const { return caps_; }
  const MailboxState& mailbox() const { return mailbox_; }

private:
  std::string NextTag();
  bool Send(std::string_view command);
  // Sends a command whose arguments may need literals: each of `args` is quoted, or sent as
  // a literal after the server's go-ahead.
  bool SendWithArgs(std::string_view verb, const std::vector<std::string_view>& args, std::string& tag);
  // Reads one whole response with its literals; `cap` bounds it.
  bool ReadRaw(std::string& raw, uint64_t cap);
  bool ReadResponse(Response& r, uint64_t cap = kMaxResponse);
  // Reads until the tagged response of `tag`; untagged ones go to `untagged` (and update the
  // mailbox state). A tagged NO or BAD is ServerError.
  bool Complete(const std::string& tag, const std::function<void(Response&)>& untagged = {},
                uint64_t cap = kMaxResponse, Response* done = nullptr);
  void Untagged(const Response& r);
  bool Capability();
  void TakeCapabilities(const std::vector<Value>& values);
  void TakeCapabilities(std::string_view words);

  int tagCounter_ = 0;
  std::set<std::string> caps_;
  MailboxState mailbox_;
  std::string lastByeText_;
};

}  // namespace px::transport::imap
