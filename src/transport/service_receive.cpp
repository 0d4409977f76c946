#include "transport/service_receive.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/address.h"
#include "foundation/atomic_file.h"
#include "foundation/file_status.h"
#include "mailformat/mime_header.h"
#include "mailformat/spool.h"
#include "transport/left_on_server.h"
#include "transport/service_protocol.h"

namespace px::transport {

namespace {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The sender as blocking and receipts know it: bare address, service domain gone, lower case.
std::string SenderKey(const std::string& from) { return LowerAscii(StripServiceDomain(LowerAscii(BareAddressOf(from)))); }

std::string Describe(const HttpResult& r) {
  if (!r.error.empty()) return r.error;
  return "HTTP status " + std::to_string(r.status);
}

}  // namespace

ServiceReceiveLink::ServiceReceiveLink(ServiceAccount account) : account_(std::move(account)) {}

ServiceReceiveLink::~ServiceReceiveLink() = default;

std::string ServiceReceiveLink::AccountName() const { return std::string(kServiceDisplayName); }

std::string ServiceReceiveLink::LeftOnServerKey(const std::string& fileName) const {
  return account_.user + "@* " + fileName;
}

bool ServiceReceiveLink::SetPreview(PreviewOrder order) {
  preview_ = std::move(order);
  return true;
}

void ServiceReceiveLink::Stop() {
  stop_.store(true);
  std::lock_guard lock(clientMutex_);
  if (client_) client_->Abort();
}

ServiceReceiveLink::Fetch ServiceReceiveLink::download(ReceiveContext& ctx, const ListedMessage& m,
                                                      int64_t base, std::string& error) {
  mailformat::MailSpool& spool = ctx.spool;
  const std::string name = spool.NewName();
  // Fetched into a hidden temporary file that takes the container's name once it is whole.
  AtomicFile file(spool.PathOf(name, mailformat::kContainerExt));
  file.SetSync(account_.sync);
  if (int err = file.Open(0600)) {
    error = FileErrorText("create", file.Path(), {}, err);
    return Fetch::Fatal;
  }
  if (!m.IsReceipt())
    client_->SetProgress([&ctx, base](int64_t, int64_t, int64_t got, int64_t) {
      ctx.events.Progress(base + got);
      return true;
    });
  HttpResult r = client_->GetToFile(ServiceUrl(account_.host, GetFilePath(m.fileName)), file.fd());
  client_->SetProgress(nullptr);
  struct stat st{};
  const bool sized = ::fstat(file.fd(), &st) == 0;
  // A refused or short file is this message's trouble; a lost connection ends the run.
  const Fetch failure = (r.curlCode != 0 || r.aborted || r.status == 401) ? Fetch::Fatal : Fetch::Skipped;
  if (r.Ok() && (!sized || st.st_size != m.size)) {
    error = "File size mismatch";
    return failure;
  }
  if (!r.Ok()) {
    error = Describe(r);
    return failure;
  }
  if (int err = file.Commit(false)) {
    error = FileErrorText("write", file.Path(), {}, err);
    return Fetch::Fatal;
  }
  // The marker says the download is whole; its lines are the listing's, made single lines.
  std::string marker = mailformat::OneLine(m.from) + "\r\n" + mailformat::OneLine(m.subject) + "\r\n";
  if (!spool.WriteFile(name, mailformat::kContainerDoneExt, marker, &error)) {
    spool.Remove(name, mailformat::kContainerExt);
    return Fetch::Fatal;
  }
  if (account_.sync) spool.SyncFolder();
  ctx.events.MessageSpooled(spool.PathOf(name, mailformat::kContainerDoneExt));
  return Fetch::Ok;
}

bool ServiceReceiveLink::confirm(const ListedMessage& m, bool withReceipt, std::string& error) {
  std::string to, id, subject;
  if (withReceipt) {
    to = SenderKey(m.from);
    id = m.ReceiptId();
    subject = m.subject;
  }
  HttpResult r = client_->Get(
      ServiceUrl(account_.host, ConfirmPath(m.fileName, account_.keepOnServer, to, id, subject)));
  if (!r.Ok()) {
    error = Describe(r);
    return false;
  }
  return true;
}

LinkResult ServiceReceiveLink::Run(ReceiveContext& ctx) {
  LinkResult res;
  stop_.store(false);
  {
    std::lock_guard lock(clientMutex_);
    client_ = std::make_unique<HttpClient>(account_.http);
  }
  client_->SetBasicAuth(account_.user, account_.password);
  client_->SetExtraHeader("Content-Encoding", "deflate");
  LeftOnServerList& left = ctx.leftOnServer;
  const bool keep = account_.keepOnServer;
  auto blocked = [&ctx](const std::string& key) { return ctx.isBlocked && !key.empty() && ctx.isBlocked(key); };

  // 1. The listing (not when acting on preview rows).
  using Mode = PreviewOrder::Mode;
  const bool previewing = preview_.mode != Mode::Off;
  const bool previewAction = preview_.mode == Mode::Receive || preview_.mode == Mode::Delete;
  std::vector<ListedMessage> listed;
  if (previewAction) {
    for (const auto& p : preview_.items) {
      ListedMessage m;
      m.fileName = p.fileName;
      m.from = p.sender;
      m.subject = p.subject;
      m.size = p.size;
      m.ext = p.extension;
      m.messageId = p.messageId;
      listed.push_back(std::move(m));
    }
  } else {
    HttpResult r = client_->Get(ServiceUrl(account_.host, ListingPath()));
    if (!r.Ok()) {
      res.errorCode = ErrorCodeOf(r, teConnect);
      res.status = stopped() ? LinkStatus::Stopped
                 : res.errorCode == teAuthorisation ? LinkStatus::WrongPassword
                                                    : LinkStatus::ConnectFailed;
      if (res.status == LinkStatus::Stopped) res.errorCode = 0;
      res.error = Describe(r);
      return res;
    }
    std::string err;
    ListingStatus ls = ParseServiceListing(r.body, listed, &err);
    if (ls == ListingStatus::Empty) return res;
    if (ls == ListingStatus::Bad) {
      res.errorCode = teConnect;
      res.status = LinkStatus::ConnectFailed;
      res.error = err;
      return res;
    }
  }

  // 2. What there is to fetch.
  int64_t total = 0;
  bool receipts = false;
  for (const auto& m : listed) {
    if (!previewAction && (blocked(SenderKey(m.from)) || left.Contains(LeftOnServerKey(m.fileName)))) continue;
    if (m.IsReceipt()) receipts = true;
    else if (m.size > 0) total += m.size;
  }
  if (total == 0 && !receipts && !previewAction) {
    // Nothing new; messages left on the server are still cleaned up below.
  } else if (total > 0 && !previewing) {
    ctx.events.ShowSkip();
    ctx.events.ReceiveStarting(total);
  }

  // 3. Each message in turn.
  int64_t position = 0;
  bool failed = false, itemFailed = false;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (stopped()) break;
    const ListedMessage& m = listed[i];
    const std::string key = SenderKey(m.from);
    const std::string leftKey = LeftOnServerKey(m.fileName);
    const bool seen = !previewAction && left.Contains(leftKey);
    const bool isBlocked = !previewAction && blocked(key);
    const bool deleteOnly = preview_.mode == Mode::Delete;
    if (preview_.mode == Mode::Listing) {
      // Only told: a listing neither fetches nor confirms anything.
      if (!isBlocked && !seen && !m.IsReceipt()) ctx.events.PreviewListed(PreviewItemOf(m, AccountName()));
      continue;
    }
    std::string err;
    bool fetched = false;
    if (!isBlocked && !deleteOnly && !seen) {
      if (m.size < 0 || m.fileName.empty()) {
        res.error = "the listing gives no usable file for a message";
        itemFailed = true;
        continue;
      }
      const Fetch f = download(ctx, m, position, err);
      if (f == Fetch::Skipped) {
        // Not confirmed, so the service offers it again; the messages after it still come.
        res.error = err;
        itemFailed = true;
        continue;
      }
      if (f == Fetch::Fatal) {
        res.error = err;
        failed = true;
        break;
      }
      if (!m.IsReceipt()) position += m.size;
      ++res.messagesSpooled;
      fetched = true;
      // Remembered before the confirmation: if that is lost, the next run confirms the
      // message instead of fetching it again.
      left.Add(leftKey);
      std::string saveErr;
      if (!left.SaveIfModified(&saveErr)) {
        res.error = saveErr;
        failed = true;
        break;
      }
    }
    if (fetched || isBlocked) {
      const bool withReceipt = !isBlocked && !m.ReceiptId().empty() && !m.IsReceipt() &&
                               key.find('@') == std::string::npos && !key.empty();
      if (!confirm(m, withReceipt, err)) {
        res.error = err;
        failed = true;
        break;
      }
      if (!keep || isBlocked) left.Remove(leftKey);
      if (keep && !isBlocked) left.Add(leftKey);
    } else if (deleteOnly || (seen && !keep)) {
      if (!confirm(m, false, err)) {
        res.error = err;
        failed = true;
        break;
      }
      if (seen) left.Remove(leftKey);
    }
    if (previewAction) ctx.events.PreviewHandled(AccountName(), m.fileName);
  }
  if (failed || (itemFailed && !stopped())) {
    res.status = stopped() ? LinkStatus::Stopped : LinkStatus::ReceiveFailed;
    res.errorCode = stopped() ? 0 : teCommunication;
  } else if (stopped()) {
    res.status = LinkStatus::Stopped;
  } else if (!previewing && !keep) {
    // Nothing of this account is left on the server any more.
    left.RemovePrefix(account_.user + "@* ");
  }
  if (total > 0 && !previewing) ctx.events.ReceiveFinished();
  {
    std::lock_guard lock(clientMutex_);
    client_.reset();
  }
  return res;
}

}  // namespace px::transport
