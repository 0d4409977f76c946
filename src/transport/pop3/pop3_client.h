#pragma once
// A POP3 client on a socket of its own, with TLS through OpenSSL. It exists because the result
// of QUIT matters (that is where the server commits deletions) and because the log-in must be
// plain USER/PASS inside TLS. Every wait is bounded by a time-out, every reply by a size cap,
// and Stop() from any thread ends a wait at once.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transport/mail_socket.h"

namespace px::transport::pop3 {

// How an account protects its connection.
enum class Security {
  Auto,      // TLS on 995; when that port refuses, STLS on 110. Never plain text.
  Tls,       // POP3S: TLS from the first byte (port 995 unless given)
  StartTls,  // STLS on the plain port (110 unless given); fails when the server lacks it
  Plain,     // no encryption at all: only when the account says so
};
std::string_view SecurityName(Security s);  // "auto", "tls", "starttls", "plain"
std::optional<Security> ParseSecurity(std::string_view text);

inline constexpr int kPop3Port = 110;
inline constexpr int kPop3sPort = 995;

// "host", "host:port" or "[v6-address]:port". port 0 when not given.
struct ServerAddress {
  std::string host;
  int port = 0;
};
std::optional<ServerAddress> ParseServerAddress(std::string_view text);

using px::transport::ErrorKind;

struct Capabilities {
  bool known = false;  // CAPA answered
  bool stls = false;
  bool uidl = false;
  bool top = false;
  bool pipelining = false;
  std::vector<std::string> sasl;  // mechanisms of the SASL line, upper-case
};

// Limits on what the server may send.
inline constexpr size_t kMaxLine = 1024 * 1024;
inline constexpr size_t kMaxHeader = 1024 * 1024;

class Pop3Client : public MailSocket {
public:
  Pop3Client() = default;

  // Connects, reads the greeting, asks CAPA, and starts TLS as `security` says.
  bool Connect(const std::string& host, int port, Security security);
  // Takes a plain socket that is already connected to a POP3 server (a pipe to a local server
  // program, a replayed session) and reads the greeting and CAPA.
  bool Adopt(int fd);
  // USER and PASS. A refusal is LoginRejected.
  bool Login(const std::string& user, const std::string& password);
  // AUTH with a SASL mechanism and its initial response (RFC 5034); a refusal is LoginRejected.
  bool Authenticate(std::string_view mechanism, std::string_view initialResponse);
  bool Stat(int64_t& count, int64_t& size);
  // Sizes by message number (index 0 unused), for messages 1..count.
  bool List(int64_t count, std::vector<int64_t>& sizes);
  // Unique ids by message number; false with ServerError when the server has no UIDL.
  bool Uidl(int64_t count, std::vector<std::string>& ids);
  // The header of message n (TOP n 0), dot-unstuffed, at most kMaxHeader bytes.
  bool Top(int64_t n, std::string& header);
  // Streams message n: `line` gets each line with its line end, dot-unstuffed, and may return
  // false to abandon the message (the rest is read and dropped). More than `maxBytes` bytes ends
  // the message with ReplyTooLong.
  bool Retr(int64_t n, uint64_t maxBytes, const std::function<bool(std::string_view line)>& line);
  bool Dele(int64_t n);
  // DELE for each of `messages`, in one write when the server takes pipelined commands.
  // accepted[i] is 1 when message i was marked, 0 when the server refused it, -1 when no answer
  // came (the session broke: false is returned).
  bool DeleMany(const std::vector<int64_t>& messages, std::vector<int>& accepted);
  // QUIT; true only when the server acknowledged it, which is when deletions are committed.
  bool Quit();

  const Capabilities& caps() const { return caps_; }
  // Whether the server offers a SASL mechanism.
  bool Offers(std::string_view mechanism) const;

private:
  bool Command(std::string_view cmd);
  bool ReadStatus(std::string* text = nullptr);
  bool Simple(std::string_view cmd, std::string* text = nullptr);
  bool ReadCapa();
  // Reads a multi-line body; `line` gets unstuffed lines (with their ends) until it returns
  // false, then the rest is dropped. `maxBytes` bounds the body.
  bool ReadBody(uint64_t maxBytes, const std::function<bool(std::string_view)>& line);
  bool DropBody(uint64_t maxBytes);

  Capabilities caps_;
};

}  // namespace px::transport::pop3
