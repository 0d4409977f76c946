#include "transport/imap/imap_client.h"

#include <algorithm>

#include "foundation/text_case.h"
#include "mailformat/codecs.h"

namespace px::transport::imap {

namespace {

// UIDs per FETCH or STORE command: keeps command lines short.
constexpr size_t kUidsPerCommand = 500;
constexpr int kLogoutTimeoutMs = 30000;

// Whether a refusal of a password says the server wants OAuth2 sign-in instead.
bool WantsOAuth(std::string_view text) {
  std::string t = AsciiLower(text);
  for (std::string_view hint : {"oauth", "web browser", "application-specific", "app password", "web login"})
    if (t.find(hint) != std::string::npos) return true;
  return false;
}

uint32_t ToUid(std::optional<int64_t> n) {
  return n && *n > 0 && *n <= 0xffffffffll ? static_cast<uint32_t>(*n) : 0;
}

}  // namespace

std::string ImapClient::NextTag() { return "A" + std::to_string(++tagCounter_); }

bool ImapClient::Has(std::string_view capability) const { return caps_.count(AsciiUpper(capability)) > 0; }

void ImapClient::TakeCapabilities(const std::vector<Value>& values) {
  caps_.clear();
  for (const auto& v : values)
    if (v.type == Value::Type::Atom && caps_.size() < 1000) caps_.insert(AsciiUpper(v.text));
}

void ImapClient::TakeCapabilities(std::string_view words) {
  caps_.clear();
  size_t p = 0;
  while (p < words.size() && caps_.size() < 1000) {
    size_t e = words.find(' ', p);
    if (e == std::string_view::npos) e = words.size();
    if (e > p) caps_.insert(AsciiUpper(words.substr(p, e - p)));
    p = e + 1;
  }
}

bool ImapClient::Send(std::string_view command) {
  if (fd_ < 0 || broken_) return Fail(ErrorKind::Closed, "Not connected.");
  std::string line(command);
  line += "\r\n";
  return WriteAll(line);
}

bool ImapClient::ReadRaw(std::string& raw, uint64_t cap) {
  raw.clear();
  for (;;) {
    std::string_view line;
    if (!ReadLine(line, pop3::kMaxLine)) return false;
    raw.append(line);
    if (raw.size() > cap) return Fail(ErrorKind::ReplyTooLong, "The server sent a response far too long.");
    int64_t literal = TrailingLiteral(line);
    if (literal < 0) return true;
    if (static_cast<uint64_t>(literal) > cap - raw.size())
      return Fail(ErrorKind::ReplyTooLong, "The server sent a response far too long.");
    if (!ReadExact(static_cast<size_t>(literal), raw)) return false;
  }
}

bool ImapClient::ReadResponse(Response& r, uint64_t cap) {
  std::string raw;
  if (!ReadRaw(raw, cap)) return false;
  std::string error;
  auto parsed = ParseResponse(raw, &error);
  if (!parsed) return Fail(ErrorKind::Protocol, "Not an IMAP response (" + error + "): " + PrintableReply(raw));
  r = std::move(*parsed);
  return true;
}

void ImapClient::Untagged(const Response& r) {
  if (r.name == "EXISTS" && r.number) mailbox_.exists = *r.number;
  else if (r.name == "EXPUNGE" && mailbox_.exists > 0) --mailbox_.exists;
  else if (r.name == "CAPABILITY") TakeCapabilities(r.values);
  else if (r.name == "BYE") lastByeText_ = r.text;
  if (r.IsStatus()) {
    auto number = [&]() -> uint64_t {
      uint64_t n = 0;
      for (char c : r.codeArg) {
        if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) return 0;
        n = n * 10 + static_cast<uint64_t>(c - '0');
      }
      return n;
    };
    if (r.code == "UIDVALIDITY") mailbox_.uidValidity = static_cast<uint32_t>(std::min<uint64_t>(number(), 0xffffffffu));
    else if (r.code == "UIDNEXT") mailbox_.uidNext = static_cast<uint32_t>(std::min<uint64_t>(number(), 0xffffffffu));
    else if (r.code == "HIGHESTMODSEQ") mailbox_.highestModSeq = number();
    else if (r.code == "CAPABILITY") TakeCapabilities(r.codeArg);
  }
}

bool ImapClient::Complete(const std::string& tag, const std::function<void(Response&)>& untagged, uint64_t cap,
                          Response* done) {
  for (;;) {
    Response r;
    if (!ReadResponse(r, cap)) {
      if (error_ == ErrorKind::Closed && !lastByeText_.empty())
        errorText_ = "The server closed the connection: " + PrintableReply(lastByeText_);
      return false;
    }
    if (r.kind == Response::Kind::Untagged) {
      Untagged(r);
      if (untagged) untagged(r);
      continue;
    }
    if (r.kind == Response::Kind::Continuation)
      return Fail(ErrorKind::Protocol, "The server asked for more than the command holds.");
    if (r.tag != tag) return Fail(ErrorKind::Protocol, "A response to a command never sent: " + PrintableReply(r.tag));
    if (done) *done = r;
    if (r.code == "CAPABILITY") TakeCapabilities(r.codeArg);
    if (r.name == "OK") return true;
    return Fail(ErrorKind::ServerError, "The server answered: " + PrintableReply(r.name + " " + r.text));
  }
}

bool ImapClient::SendWithArgs(std::string_view verb, const std::vector<std::string_view>& args, std::string& tag) {
  if (fd_ < 0 || broken_) return Fail(ErrorKind::Closed, "Not connected.");
  tag = NextTag();
  const bool literalPlus = Has("LITERAL+");
  std::string pending = tag + " " + std::string(verb);
  for (std::string_view a : args) {
    if (auto q = QuoteArgument(a)) {
      pending += " " + *q;
      continue;
    }
    pending += " {" + std::to_string(a.size()) + (literalPlus ? "+" : "") + "}\r\n";
    if (!literalPlus) {
      if (!WriteAll(pending)) return false;
      pending.clear();
      Response r;
      for (;;) {
        if (!ReadResponse(r)) return false;
        if (r.kind != Response::Kind::Untagged) break;
        Untagged(r);
      }
      if (r.kind == Response::Kind::Tagged)
        return Fail(ErrorKind::ServerError, "The server answered: " + PrintableReply(r.name + " " + r.text));
    }
    pending.append(a);
  }
  pending += "\r\n";
  return WriteAll(pending);
}

bool ImapClient::Capability() {
  std::string tag = NextTag();
  return Send(tag + " CAPABILITY") && Complete(tag);
}

bool ImapClient::Connect(const std::string& host, int port, Security security) {
  Close();
  ClearError();
  caps_.clear();
  host_ = host;
  if (security == Security::Auto) {
    if (port == 0 || port == kImapsPort) {
      if (Connect(host, kImapsPort, Security::Tls)) return true;
      // Only a closed IMAPS port sends us to STARTTLS on the plain port.
      if (error_ != ErrorKind::Refused || port == kImapsPort) return false;
      return Connect(host, kImapPort, Security::StartTls);
    }
    security = Security::StartTls;
  }
  if (port == 0) port = security == Security::Tls ? kImapsPort : kImapPort;
  if (!ConnectSocket(host, port)) return false;
  if (security == Security::Tls && !StartTls(host)) {
    Close();
    return false;
  }
  Response greeting;
  if (!ReadResponse(greeting)) {
    Close();
    return false;
  }
  if (greeting.kind != Response::Kind::Untagged || (greeting.name != "OK" && greeting.name != "PREAUTH")) {
    Fail(ErrorKind::ConnectFailed, "The server refused the connection: " + PrintableReply(greeting.text));
    Close();
    return false;
  }
  Untagged(greeting);
  if (caps_.empty() && !Capability()) {
    Close();
    return false;
  }
  if (security == Security::StartTls) {
    if (!Has("STARTTLS")) {
      Fail(ErrorKind::NoTls, "The server offers no encryption (STARTTLS); plain text is not allowed for this account.");
      Close();
      return false;
    }
    std::string tag = NextTag();
    if (!Send(tag + " STARTTLS") || !Complete(tag) || !StartTls(host)) {
      if (error_ == ErrorKind::ServerError) error_ = ErrorKind::NoTls;
      Close();
      return false;
    }
    // What the server said before TLS cannot be trusted: ask again.
    DropBuffered();
    caps_.clear();
    if (!Capability()) {
      Close();
      return false;
    }
  }
  return true;
}

bool ImapClient::Adopt(int fd) {
  AdoptSocket(fd);
  caps_.clear();
  Response greeting;
  if (!ReadResponse(greeting)) {
    Close();
    return false;
  }
  Untagged(greeting);
  if (caps_.empty() && !Capability()) {
    Close();
    return false;
  }
  return true;
}

bool ImapClient::Login(const std::string& user, const std::string& password) {
  if (Has("LOGINDISABLED"))
    return Fail(ErrorKind::LoginRejected, "The server takes no password log-in on this connection.");
  std::string tag;
  Response done;
  if (!SendWithArgs("LOGIN", {user, password}, tag) || !Complete(tag, {}, kMaxResponse, &done)) {
    if (error_ == ErrorKind::ServerError) {
      const bool oauth = WantsOAuth(errorText_) && (Has("AUTH=XOAUTH2") || Has("AUTH=OAUTHBEARER"));
      error_ = oauth ? ErrorKind::NeedsOAuth : ErrorKind::LoginRejected;
      errorText_ = oauth ? "This server wants OAuth2 sign-in for this account, not a password."
                         : "Invalid user name or password.";
    }
    return false;
  }
  // Capabilities change with the log-in; a server that did not tell them is asked.
  if (done.code != "CAPABILITY" && !Capability()) return false;
  return true;
}

bool ImapClient::Authenticate(std::string_view mechanism, std::string_view initialResponse) {
  if (fd_ < 0 || broken_) return Fail(ErrorKind::Closed, "Not connected.");
  const std::string encoded = initialResponse.empty() ? "=" : mailformat::Base64Encode(initialResponse);
  std::string tag = NextTag();
  const bool inline_ = Has("SASL-IR");
  if (!Send(tag + " AUTHENTICATE " + std::string(mechanism) + (inline_ ? " " + encoded : ""))) return false;
  bool sent = inline_;
  for (;;) {
    Response r;
    if (!ReadResponse(r)) return false;
    if (r.kind == Response::Kind::Untagged) {
      Untagged(r);
      continue;
    }
    if (r.kind == Response::Kind::Continuation) {
      // The first go-ahead takes the initial response; a later one carries the server's
      // error details, answered with an empty line so that the refusal follows.
      if (!Send(sent ? std::string() : encoded)) return false;
      sent = true;
      continue;
    }
    if (r.tag != tag) return Fail(ErrorKind::Protocol, "A response to a command never sent.");
    if (r.name == "OK") {
      if (r.code == "CAPABILITY") TakeCapabilities(r.codeArg);
      else if (!Capability()) return false;
      return true;
    }
    return Fail(ErrorKind::LoginRejected, "The server refused the sign-in: " + PrintableReply(r.text));
  }
}

bool ImapClient::Select(const std::string& name, bool readOnly, MailboxState& state) {
  mailbox_ = MailboxState{};
  std::string tag;
  const std::string encoded = EncodeMailboxName(name);
  Response done;
  if (!SendWithArgs(readOnly ? "EXAMINE" : "SELECT", {encoded}, tag) || !Complete(tag, {}, kMaxResponse, &done))
    return false;
  mailbox_.readOnly = readOnly || done.code == "READ-ONLY";
  state = mailbox_;
  return true;
}

bool ImapClient::ListMessages(std::vector<MessageInfo>& messages) {
  messages.clear();
  if (mailbox_.exists == 0) return true;
  std::string tag = NextTag();
  if (!Send(tag + " UID FETCH 1:* (UID RFC822.SIZE)")) return false;
  bool ok = Complete(tag, [&](Response& r) {
    if (r.name != "FETCH" || r.values.empty() || messages.size() > 50'000'000) return;
    const Value& items = r.values[0];
    const Value* uid = FetchItem(items, "UID");
    const Value* size = FetchItem(items, "RFC822.SIZE");
    MessageInfo m;
    m.uid = uid ? ToUid(NumberOf(*uid)) : 0;
    if (size) m.size = NumberOf(*size).value_or(-1);
    if (m.uid) messages.push_back(m);
  });
  std::sort(messages.begin(), messages.end(), [](const MessageInfo& a, const MessageInfo& b) { return a.uid < b.uid; });
  messages.erase(std::unique(messages.begin(), messages.end(),
                             [](const MessageInfo& a, const MessageInfo& b) { return a.uid == b.uid; }),
                 messages.end());
  return ok;
}

bool ImapClient::FetchHeaders(const std::vector<uint32_t>& uids,
                              const std::function<void(uint32_t, std::string_view)>& header) {
  for (size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
    std::string tag = NextTag();
    if (!Send(tag + " UID FETCH " + SequenceSet(uids, from, kUidsPerCommand) + " (UID BODY.PEEK[HEADER])"))
      return false;
    bool ok = Complete(tag, [&](Response& r) {
      if (r.name != "FETCH" || r.values.empty()) return;
      const Value* uid = FetchItem(r.values[0], "UID");
      const Value* body = FetchItem(r.values[0], "BODY[HEADER]");
      if (uid && body && ToUid(NumberOf(*uid))) header(ToUid(NumberOf(*uid)), body->text);
    });
    if (!ok) return false;
  }
  return true;
}

bool ImapClient::FetchMessages(const std::vector<uint32_t>& uids,
                               const std::function<bool(uint32_t, std::string_view)>& message) {
  for (size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
    std::string tag = NextTag();
    if (!Send(tag + " UID FETCH " + SequenceSet(uids, from, kUidsPerCommand) + " (UID BODY.PEEK[])")) return false;
    bool ok = Complete(
        tag,
        [&](Response& r) {
          if (r.name != "FETCH" || r.values.empty()) return;
          const Value* uid = FetchItem(r.values[0], "UID");
          const Value* body = FetchItem(r.values[0], "BODY[]");
          if (uid && body && body->type == Value::Type::String && ToUid(NumberOf(*uid)))
            message(ToUid(NumberOf(*uid)), body->text);
        },
        kMaxMessage + kMaxResponse);
    if (!ok) return false;
  }
  return true;
}

bool ImapClient::DeleteMessages(const std::vector<uint32_t>& uids) {
  if (uids.empty()) return true;
  for (size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
    std::string tag = NextTag();
    if (!Send(tag + " UID STORE " + SequenceSet(uids, from, kUidsPerCommand) + " +FLAGS.SILENT (\\Deleted)") ||
        !Complete(tag))
      return false;
  }
  if (Has("UIDPLUS")) {
    for (size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
      std::string tag = NextTag();
      if (!Send(tag + " UID EXPUNGE " + SequenceSet(uids, from, kUidsPerCommand)) || !Complete(tag)) return false;
    }
    return true;
  }
  std::string tag = NextTag();
  return Send(tag + " EXPUNGE") && Complete(tag);
}

bool ImapClient::Idle(int waitMs, bool& grew) {
  grew = false;
  const int64_t before = mailbox_.exists;
  const int savedTimeout = timeoutMs_;
  const int64_t savedDeadline = deadlineMs_;
  auto restore = [&] {
    timeoutMs_ = savedTimeout;
    deadlineMs_ = savedDeadline;
  };
  const bool idle = Has("IDLE");
  std::string tag = NextTag();
  if (idle) {
    if (!Send(tag + " IDLE")) return false;
    Response r;
    for (;;) {
      if (!ReadResponse(r)) return false;
      if (r.kind != Response::Kind::Untagged) break;
      Untagged(r);
    }
    if (r.kind != Response::Kind::Continuation)
      return Fail(ErrorKind::ServerError, "The server refused IDLE: " + PrintableReply(r.text));
  }
  // Waits for news; running out of time ends the wait, not the session.
  timeoutMs_ = waitMs + 1000;
  deadlineMs_ = SteadyMs() + waitMs;
  while (mailbox_.exists <= before) {
    Response r;
    if (!ReadResponse(r)) {
      if (error_ != ErrorKind::Timeout) {
        restore();
        return false;
      }
      ClearError();
      break;
    }
    if (r.kind == Response::Kind::Untagged) Untagged(r);
  }
  restore();
  if (idle) {
    if (!Send("DONE") || !Complete(tag)) return false;
  } else {
    if (!Send(tag + " NOOP") || !Complete(tag)) return false;
  }
  grew = mailbox_.exists > before;
  return true;
}

bool ImapClient::Logout() {
  const int saved = timeoutMs_;
  timeoutMs_ = std::min(timeoutMs_, kLogoutTimeoutMs);
  std::string tag = NextTag();
  bool ok = Send(tag + " LOGOUT") && Complete(tag);
  timeoutMs_ = saved;
  Close();
  return ok;
}

}  // namespace px::transport::imap
