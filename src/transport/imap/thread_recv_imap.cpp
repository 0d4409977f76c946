#include "transport/imap/thread_recv_imap.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "mailformat/spool.h"
#include "transport/left_on_server.h"
#include "transport/sign_in.h"
#include "transport/pop3/network_message.h"
#include "transport/receive_chain.h"

namespace px::transport::imap {

namespace {

using pop3::BatchedSync;
using pop3::HeaderScan;
using pop3::NetworkMessageWriter;

// Grace for a step (log-in, a listing) before a silent server is given up on.
constexpr int64_t kGraceMs = 120000;
constexpr int64_t kMinBytesPerSecond = 1024;

std::string Hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// What tells a message apart when its UID no longer does: its Message-ID, else a digest of
// its header; one word.
std::string IdentityOf(const std::string& messageId, uint64_t digest) {
  if (messageId.empty() || messageId.size() > 998) return "hdr:" + Hex(digest);
  std::string r;
  for (char c : messageId) r += (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) ? '_' : c;
  return r;
}

std::string Escaped(std::string_view s) {
  std::string r;
  for (unsigned char c : s) {
    if (c <= 0x20 || c == '%' || c == 0x7f) {
      static const char kHex[] = "0123456789ABCDEF";
      r += '%';
      r += kHex[c >> 4];
      r += kHex[c & 15];
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

bool ParseU64(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// A remembered message: "m " + UIDVALIDITY + ":" + UID + " " + identity.
struct Known {
  uint32_t uidValidity = 0, uid = 0;
  std::string identity;
  std::string line;
};

std::vector<Known> KnownLines(const LeftOnServerList& list, const std::string& prefix) {
  std::vector<Known> r;
  for (const auto& line : list.WithPrefix(prefix + "m ")) {
    std::string_view rest = std::string_view(line).substr(prefix.size() + 2);
    size_t colon = rest.find(':'), blank = rest.find(' ');
    uint64_t uv = 0, uid = 0;
    if (colon == std::string_view::npos || blank == std::string_view::npos || blank < colon ||
        !ParseU64(rest.substr(0, colon), uv) || !ParseU64(rest.substr(colon + 1, blank - colon - 1), uid))
      continue;
    r.push_back({static_cast<uint32_t>(uv), static_cast<uint32_t>(uid), std::string(rest.substr(blank + 1)), line});
  }
  return r;
}

std::string KnownLine(const std::string& prefix, uint32_t uv, uint32_t uid, const std::string& identity) {
  return prefix + "m " + std::to_string(uv) + ":" + std::to_string(uid) + " " + identity;
}

}  // namespace

ThreadRecvIMAP::ThreadRecvIMAP(ExternalAccount account, int timeoutMs)
    : account_(std::move(account)), timeoutMs_(timeoutMs) {}

std::string ThreadRecvIMAP::KeyPrefix(const ExternalAccount& a, const std::string& folder) {
  return "imap:" + a.user + "@" + a.server + "/" + Escaped(folder) + " ";
}

LinkResult ThreadRecvIMAP::Run(ReceiveContext& ctx) {
  LinkResult result;
  ctx.events.ShowSkip();
  client_.SetTimeout(timeoutMs_);
  client_.SetDeadline(MailSocket::SteadyMs() + kGraceMs + timeoutMs_);
  if (!ConnectAndSignIn(client_, account_, kImapsPort, result)) return result;
  ctx.events.ReceiveStarting(0);
  for (const auto& folder : account_.ImapFolders()) {
    if (!ReceiveFolder(ctx, folder, result)) break;
  }
  ctx.events.ReceiveFinished();
  client_.SetDeadline(0);
  if (client_.IsUsable()) client_.Logout();
  client_.Close();
  return result;
}

bool ThreadRecvIMAP::ReceiveFolder(ReceiveContext& ctx, const std::string& folder, LinkResult& result) {
  auto note = [&](LinkStatus status, const std::string& text) {
    if (result.status == LinkStatus::Ok) {
      result.status = status;
      result.error = text;
    }
  };
  auto sessionFailed = [&] {
    note(client_.error() == ErrorKind::Stopped ? LinkStatus::Stopped : LinkStatus::ReceiveFailed,
         client_.errorText());
    return false;
  };
  LeftOnServerList& list = ctx.leftOnServer;
  const std::string prefix = KeyPrefix(account_, folder);

  client_.SetDeadline(MailSocket::SteadyMs() + kGraceMs + timeoutMs_);
  MailboxState box;
  if (!client_.Select(folder, account_.keep, box)) {
    if (!client_.IsUsable()) return sessionFailed();
    // A folder that is not there: the others are still received.
    note(LinkStatus::ReceiveFailed, "Folder " + folder + ": " + client_.errorText());
    return true;
  }

  // What this folder looked like when it was last received completely.
  const std::string statePrefix = prefix + "state ";
  uint64_t lastUv = 0, lastNext = 0;
  StringList stateLines = list.WithPrefix(statePrefix);
  if (stateLines.size() == 1) {
    std::string_view rest = std::string_view(stateLines[0]).substr(statePrefix.size());
    size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || !ParseU64(rest.substr(0, blank), lastUv) ||
        !ParseU64(rest.substr(blank + 1), lastNext))
      lastUv = lastNext = 0;
  }
  std::vector<Known> known = KnownLines(list, prefix);
  bool pendingDeletes = false;
  for (const auto& k : known)
    if (k.uidValidity == box.uidValidity) pendingDeletes = true;
  pendingDeletes = pendingDeletes && !account_.keep;
  // Unchanged since last time: nothing more to ask.
  if (box.uidValidity != 0 && box.uidNext != 0 && lastUv == box.uidValidity && lastNext == box.uidNext &&
      !pendingDeletes)
    return true;

  const int64_t listDeadline = MailSocket::SteadyMs() + kGraceMs + box.exists * 64 * 1000 / kMinBytesPerSecond;
  client_.SetDeadline(listDeadline);
  std::vector<MessageInfo> messages;
  if (!client_.ListMessages(messages)) return sessionFailed();

  // Known messages of this UIDVALIDITY, by UID.
  std::map<uint32_t, std::string> seen;
  std::multiset<std::string> oldIdentities;  // one per message: two may share a Message-ID
  std::vector<std::string> staleLines;
  for (const auto& k : known) {
    if (k.uidValidity == box.uidValidity) {
      seen[k.uid] = k.identity;
    } else {
      oldIdentities.insert(k.identity);
      staleLines.push_back(k.line);
    }
  }
  // The UIDs were renumbered: what was fetched before is known by its identity.
  if (!oldIdentities.empty() && !messages.empty()) {
    std::vector<uint32_t> uids;
    for (const auto& m : messages)
      if (!seen.count(m.uid)) uids.push_back(m.uid);
    client_.SetDeadline(MailSocket::SteadyMs() + kGraceMs + static_cast<int64_t>(uids.size()) * 4096 * 1000 / kMinBytesPerSecond);
    std::multiset<std::string> remaining = oldIdentities;
    bool ok = client_.FetchHeaders(uids, [&](uint32_t uid, std::string_view header) {
      HeaderScan scan = pop3::ScanHeader(header);
      std::string identity = IdentityOf(scan.messageId, scan.digest);
      auto it = remaining.find(identity);
      if (it == remaining.end()) return;
      remaining.erase(it);
      seen[uid] = identity;
      list.Add(KnownLine(prefix, box.uidValidity, uid, identity));
    });
    if (!ok) return sessionFailed();
  }
  for (const auto& line : staleLines) list.Remove(line);

  std::vector<uint32_t> toFetch, toDelete;
  int64_t total = 0;
  std::map<uint32_t, int64_t> sizes;
  for (const auto& m : messages) {
    sizes[m.uid] = m.size;
    if (seen.count(m.uid)) {
      if (!account_.keep) toDelete.push_back(m.uid);
    } else {
      toFetch.push_back(m.uid);
      total += std::max<int64_t>(m.size, 0);
    }
  }
  ctx.events.ReceiveStarting(total);

  BatchedSync batched(ctx.spool);
  int64_t base = 0;
  bool failed = false;
  // Makes what was fetched durable, remembers it on the disk, then deletes it on the server.
  auto flush = [&](std::vector<uint32_t>& doomed, bool unsynced) -> bool {
    if (unsynced && batched.enabled()) {
      std::string error;
      if (!pop3::SyncSpool(ctx.spool, error)) {
        note(LinkStatus::ReceiveFailed, error);
        return false;
      }
    }
    std::string saveError;
    if (!list.SaveIfModified(&saveError)) {
      note(LinkStatus::ReceiveFailed, saveError);
      return false;
    }
    if (doomed.empty() || account_.keep) return true;
    std::sort(doomed.begin(), doomed.end());
    client_.SetDeadline(MailSocket::SteadyMs() + kGraceMs);
    if (!client_.DeleteMessages(doomed)) {
      if (!client_.IsUsable()) return sessionFailed();
      note(LinkStatus::ReceiveFailed, client_.errorText());
      return false;
    }
    // Gone from the server: nothing to remember.
    for (uint32_t uid : doomed) {
      auto it = seen.find(uid);
      if (it != seen.end()) list.Remove(KnownLine(prefix, box.uidValidity, uid, it->second));
    }
    doomed.clear();
    return true;
  };

  // Messages fetched before whose deletion did not happen.
  if (!toDelete.empty() && !flush(toDelete, false)) return client_.IsUsable();

  for (size_t from = 0; from < toFetch.size() && !failed;) {
    // One batch: a number of messages or of bytes, whichever comes first.
    size_t to = from;
    int64_t bytes = 0;
    while (to < toFetch.size() && to - from < pop3::kBatchMessages &&
           (to == from || bytes < static_cast<int64_t>(pop3::kBatchBytes))) {
      bytes += std::max<int64_t>(sizes[toFetch[to]], 0);
      ++to;
    }
    std::vector<uint32_t> batch(toFetch.begin() + from, toFetch.begin() + to);
    from = to;
    client_.SetDeadline(MailSocket::SteadyMs() + kGraceMs + bytes * 1000 / kMinBytesPerSecond);
    std::vector<uint32_t> doomed;
    bool unsynced = false;
    bool diskFailed = false;
    bool noRoom = false;
    bool ok = client_.FetchMessages(batch, [&](uint32_t uid, std::string_view bytesOf) {
      if (diskFailed || noRoom || seen.count(uid)) return false;
      NetworkMessageWriter writer;
      if (!writer.Open(ctx.spool, account_.name)) {
        note(LinkStatus::ReceiveFailed, writer.errorText());
        diskFailed = true;
        return false;
      }
      size_t p = 0;
      while (p < bytesOf.size()) {
        size_t nl = bytesOf.find('\n', p);
        size_t end = nl == std::string_view::npos ? bytesOf.size() : nl + 1;
        if (!writer.Line(bytesOf.substr(p, end - p))) {
          diskFailed = true;
          break;
        }
        p = end;
      }
      const std::string identity = IdentityOf(writer.messageId(), writer.HeaderDigest());
      // The server's key of the message goes with the file: a copy fetched again after a crash
      // is dropped when it is filed.
      const std::string fileKey = prefix + std::to_string(box.uidValidity) + ":" + std::to_string(uid);
      if (diskFailed || !writer.Commit(fileKey)) {
        note(LinkStatus::ReceiveFailed, writer.errorText());
        writer.Discard();
        diskFailed = true;
        return false;
      }
      unsynced = true;
      ++result.messagesSpooled;
      ctx.events.MessageSpooled(writer.Path());
      base += static_cast<int64_t>(bytesOf.size());
      ctx.events.Progress(std::min(base, total));
      seen[uid] = identity;
      list.Add(KnownLine(prefix, box.uidValidity, uid, identity));
      if (!pop3::RoomToFile(ctx.spool, writer.size())) {
        // Safe in the spool, but the disk has no room to file it: it stays on the server too.
        noRoom = true;
        note(LinkStatus::ReceiveFailed, "The disk is full: " + ctx.spool.folder());
        return true;
      }
      doomed.push_back(uid);
      return true;
    });
    if (!ok && !client_.IsUsable()) {
      // What arrived is made durable; nothing is deleted.
      std::string error;
      if (unsynced && batched.enabled()) pop3::SyncSpool(ctx.spool, error);
      return sessionFailed();
    }
    if (!ok) {
      note(LinkStatus::ReceiveFailed, client_.errorText());
      failed = true;
    }
    if (!flush(doomed, unsynced)) return client_.IsUsable();
    if (diskFailed || noRoom) failed = true;
    if (client_.IsStopped()) return sessionFailed();
  }
  client_.SetDeadline(0);

  if (failed) return true;
  // Lines of messages the server no longer has are forgotten; the folder's state is kept for
  // the quick check of the next run.
  std::set<uint32_t> present;
  for (const auto& m : messages) present.insert(m.uid);
  for (const auto& [uid, identity] : seen)
    if (!present.count(uid)) list.Remove(KnownLine(prefix, box.uidValidity, uid, identity));
  list.RemovePrefix(statePrefix);
  if (box.uidValidity != 0 && box.uidNext != 0)
    list.Add(statePrefix + std::to_string(box.uidValidity) + " " + std::to_string(box.uidNext));
  return true;
}

void AddExternalLinks(ThreadRecvChain& chain, const std::vector<ExternalAccount>& accounts, int timeoutMs,
                      pop3::Pop3Pace pace) {
  for (const auto& a : accounts) {
    if (a.IsService()) continue;
    bool ready = a.enabled && a.IsComplete();
    if (a.IsImap()) chain.AddLink(std::make_unique<ThreadRecvIMAP>(a, timeoutMs));
    else chain.AddLink(std::make_unique<pop3::ThreadRecvPOP>(a, timeoutMs, pace));
    chain.SetTicked(chain.LinkCount() - 1, ready);
  }
}

}  // namespace px::transport::imap
