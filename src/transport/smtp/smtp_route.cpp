#include "transport/smtp/smtp_route.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "foundation/address.h"
#include "foundation/dates.h"
#include "foundation/file_status.h"
#include "foundation/settings.h"
#include "store/doc_record.h"
#include "transport/outgoing.h"
#include "transport/service_protocol.h"
#include "transport/smtp/internet_message.h"

namespace px::transport {
namespace {

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string TitleOf(const OutgoingPart& p) {
  return p.title.empty() ? store::StripExtension(p.fileName) : p.title;
}

// The name an attachment is sent under: its title with the extension, else its file name.
std::string AttachmentName(const OutgoingPart& p) {
  if (p.title.empty()) return p.fileName;
  std::string ext = store::ExtensionOf(p.fileName);
  if (ext.empty() || Lower(store::ExtensionOf(p.title)) == Lower(ext)) return p.title;
  return p.title + "." + ext;
}

InternetMessage MessageOf(const OutgoingMessage& m, const std::string& from) {
  InternetMessage im;
  im.from = from;
  im.to = JoinAddressList(m.to);
  im.cc = JoinAddressList(m.ccList);
  im.bcc = JoinAddressList(m.bccList);
  if (!m.parts.empty()) {
    im.subject = TitleOf(m.parts[0]);
    im.charset = m.parts[0].charset;
    im.inReplyTo = m.parts[0].inReplyTo;
    im.references = m.parts[0].references;
  }
  im.messageId = MakeMessageId(m.base, from);
  for (const auto& p : m.parts)
    im.parts.push_back({p.filePath, AttachmentName(p), Lower(store::ExtensionOf(p.fileName)), p.charset});
  return im;
}

std::string JoinBare(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& a : list) out += (out.empty() ? "" : ", ") + a;
  return out;
}

}  // namespace

SmtpRouteSettings ReadSmtpRouteSettings(const Settings& settings, const std::string& tempFolder) {
  SmtpRouteSettings s;
  s.servers = ReadSmtpSettings(settings);
  if (const char* env = std::getenv("PLUMADEX_SMTP_CA"); env && *env) s.caFile = env;
  s.ownFromAddress = OwnFromAddress(settings);
  s.tempFolder = tempFolder;
  s.serviceSetUp = !settings.ID().empty();
  return s;
}

bool AllServiceUsers(const OutgoingMessage& m) {
  for (const StringList* list : {&m.to, &m.ccList, &m.bccList})
    for (const auto& e : *list)
      if (BareAddressOf(e).find('@') != std::string::npos) return false;
  return true;
}

std::string SenderOf(const OutgoingMessage& m, const SmtpRouteSettings& smtp) {
  if (!m.parts.empty() && !m.parts[0].from.empty()) return m.parts[0].from;
  if (!smtp.ownFromAddress.empty() || smtp.servers.size() != 1) return smtp.ownFromAddress;
  const SmtpServerSetting& only = smtp.servers[0];
  return only.fromAddresses.empty() ? only.account : only.fromAddresses[0];
}

std::string NoSmtpServerText(const std::string& from) {
  std::string who = BareAddressOf(from);
  return "No outgoing (SMTP) mail server is set up for the sender address " + (who.empty() ? "(none)" : who) +
         ". Set up the outgoing server of that account (plumadex-cli accounts smtp " +
         (who.empty() ? "NAME" : who) + " --server HOST --user USER) and send again; the message stays in the "
         "outbox until then.";
}

SendRoute RouteOf(const OutgoingMessage& message, const SmtpRouteSettings& smtp) {
  if (AllServiceUsers(message)) return SendRoute::Service;
  if (FindSmtpServerFor(smtp.servers, SenderOf(message, smtp))) return SendRoute::Smtp;
  return smtp.serviceSetUp ? SendRoute::Service : SendRoute::Smtp;
}

SmtpRoute::SmtpRoute(SmtpRouteSettings settings, RandomSource& random)
    : settings_(std::move(settings)), random_(random) {}

SmtpRoute::~SmtpRoute() = default;

void SmtpRoute::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted_ = true;
  for (auto& [name, client] : clients_) client->Stop();
}

SmtpClient& SmtpRoute::ClientFor(const SmtpServerSetting& server) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& c = clients_[server.account];
  if (!c) {
    SmtpConfig cfg = SmtpConfig::From(server);
    cfg.caFile = settings_.caFile;
    cfg.systemRoots = settings_.systemRoots;
    cfg.replyTimeoutSec = settings_.replyTimeoutSec;
    c = std::make_unique<SmtpClient>(std::move(cfg));
    if (aborted_) c->Stop();
  }
  return *c;
}

RouteOutcome SmtpRoute::Deliver(const OutgoingMessage& m, const Progress& progress) {
  RouteOutcome out;
  out.code = teCommunication;
  // Failures of SMTP concern its own messages; mail for the service still goes.
  out.messageOnly = true;
  const std::string from = SenderOf(m, settings_);
  const SmtpServerSetting* server = FindSmtpServerFor(settings_.servers, from);
  if (!server) {
    out.text = NoSmtpServerText(from);
    return out;
  }
  if (auto it = brokenServers_.find(server->account); it != brokenServers_.end()) {
    out.text = it->second;
    return out;
  }

  // Encryption works between users of the service only: what was to be encrypted never goes
  // out in clear.
  for (const auto& p : m.parts) {
    if (p.flags & store::dfEncrypted) {
      out.text = "The message \"" + (m.parts.empty() ? std::string() : TitleOf(m.parts[0])) +
                 "\" is marked to be encrypted, which works only for users of the mail service; it was not sent. "
                 "Turn encryption off for it to send it to an Internet address.";
      return out;
    }
  }
  InternetMessage im = MessageOf(m, from);
  Envelope env = EnvelopeOf(im);
  const std::string subject = im.subject;
  if (env.mailFrom.empty()) {
    out.text = "The message \"" + subject + "\" was not sent: its sender " + from + " is not an e-mail address.";
    return out;
  }
  if (!env.invalid.empty() || env.recipients.empty()) {
    std::string list;
    for (const auto& e : env.invalid) list += (list.empty() ? "" : ", ") + e;
    out.text = "The message \"" + subject + "\" was not sent: " +
               (list.empty() ? std::string("it has no recipient.")
                             : "these recipients are not e-mail addresses: " + list + ".");
    return out;
  }

  // Recipients that an earlier run settled (taken by the server, or refused for good) are not
  // sent to again: the message waits only for those whose mailbox was busy.
  std::vector<std::string> recipients;
  for (const auto& a : env.recipients) {
    const std::string bare = Lower(a);
    if (!m.acceptedFor.count(bare) && !m.refusedFor.count(bare)) recipients.push_back(a);
  }
  if (recipients.empty()) {
    if (!m.acceptedFor.empty()) {
      out.accepted = true;
      out.code = 0;
    } else {
      out.text = "The message \"" + subject + "\" was not sent: the outgoing mail server refused every recipient.";
    }
    return out;
  }

  // The message goes to a private temporary file first: its size is known before it is sent
  // and nothing is held in memory.
  const std::string path = settings_.tempFolder + "PX" + NewUniqueId(random_) + ".eml";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    out.text = FileErrorText("create", path, {}, errno);
    return out;
  }
  struct Cleanup {
    int fd;
    std::string path;
    ~Cleanup() {
      ::close(fd);
      ::unlink(path.c_str());
    }
  } cleanup{fd, path};

  int64_t size = 0;
  const FileStatus built = WriteInternetMessage(im, random_, [&](std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    size += static_cast<int64_t>(bytes.size());
    return true;
  });
  if (!built.ok() || ::lseek(fd, 0, SEEK_SET) != 0) {
    out.text = "The message \"" + subject + "\" was not sent: " + (built.ok() ? "cannot write " + path : built.message);
    return out;
  }

  SmtpClient& client = ClientFor(*server);
  client.SetProgress([&](int64_t sent, int64_t total) {
    if (progress && total > 0) progress(static_cast<uint64_t>(static_cast<double>(sent) / total * m.estimate));
  });
  SmtpResult r = client.Send(env.mailFrom, recipients, fd, size);
  client.SetProgress(nullptr);

  // Each refused recipient: for now (4xx: a busy or full mailbox, a grey list) or for good.
  // Only the replies to RCPT count; a failure of the whole exchange settles nobody.
  const bool perRecipient = r.accepted || (r.failure == SmtpFailure::Refused && !r.refused.empty() &&
                                           r.refused.size() == recipients.size());
  std::vector<SmtpReply> later, never;
  if (perRecipient) {
    for (const auto& rep : r.refused) (SmtpTemporaryRefusal(rep.code) ? later : never).push_back(rep);
    if (r.accepted) {
      for (const auto& a : recipients) {
        const bool refused = std::any_of(r.refused.begin(), r.refused.end(),
                                         [&](const SmtpReply& rep) { return Lower(rep.address) == Lower(a); });
        if (!refused) out.acceptedFor.push_back(Lower(a));
      }
    }
  }
  auto listOf = [](const std::vector<SmtpReply>& replies) {
    std::string list;
    for (const auto& rep : replies)
      list += (list.empty() ? "" : ", ") + rep.address + " (" + (rep.text.empty() ? std::to_string(rep.code) : rep.text) + ")";
    return list;
  };
  const bool everTaken = !out.acceptedFor.empty() || !m.acceptedFor.empty();
  if (perRecipient && (r.accepted || !later.empty() || everTaken)) {
    // Refusals for good are told once and never tried again; the message stays pending while
    // some recipient's mailbox could not take it yet.
    for (const auto& rep : never) out.refusedFor.push_back(Lower(rep.address));
    std::string refusedText;
    if (!never.empty())
      refusedText = "The outgoing mail server " + server->host + " refused the message \"" + subject +
                    "\" for: " + listOf(never) + ". It will not be sent to them.";
    if (later.empty()) {
      out.accepted = true;
      out.code = 0;
      out.notice = r.accepted && never.empty() ? std::string()
                   : "The message \"" + subject + "\" was sent, but the outgoing mail server " + server->host +
                         " did not accept it for: " + listOf(never) + ".";
      return out;
    }
    out.text = std::string(r.accepted ? "The message \"" + subject + "\" was sent to " +
                                            JoinBare(out.acceptedFor) + ", but the"
                                      : "The message \"" + subject + "\" was not sent: the") +
               " outgoing mail server " + server->host + " cannot take it now for: " + listOf(later) +
               ". It stays in the outbox and is sent to them on the next run." +
               (refusedText.empty() ? std::string() : " " + refusedText);
    return out;
  }
  out.text = DescribeSmtpFailure(r, server->host);
  switch (r.failure) {
    case SmtpFailure::Refused:
      if (perRecipient) {
        out.text = "The message \"" + subject + "\" was not sent: the outgoing mail server " + server->host +
                   " refused every recipient: " + listOf(never) + ".";
        break;
      }
      [[fallthrough]];
    case SmtpFailure::BadInput:
      out.text = "The message \"" + subject + "\" was not sent. " + out.text;
      break;
    case SmtpFailure::Stopped:
      out.messageOnly = false;
      break;
    default:
      // The server cannot take mail now: later messages for it wait for the next run.
      brokenServers_[server->account] = out.text;
      break;
  }
  return out;
}

}  // namespace px::transport
