#include "transport/pop3/thread_recv_pop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <unistd.h>
#include <unordered_set>

#include "foundation/address.h"
#include "foundation/text_case.h"
#include "mailformat/spool.h"
#include "transport/left_on_server.h"
#include "transport/sign_in.h"
#include "transport/pop3/network_message.h"

namespace px::transport::pop3 {

namespace {

// More messages than this in one mailbox is taken for a broken server.
constexpr int64_t kMaxMessages = 10'000'000;
// A message with no size in LIST may still not be endless.
constexpr uint64_t kUnknownSizeCap = 512ull * 1024 * 1024;
constexpr std::string_view kUidlKey = "uidl:";

// How much more than LIST announced a message may be before it is given up on.
uint64_t RetrCap(int64_t listed) {
  if (listed < 0) return kUnknownSizeCap;
  return uint64_t(listed) * 2 + 64 * 1024;
}

std::string Hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string SenderKey(const std::string& from) {
  return FoldCase(BareAddressOf(from));
}

int64_t PaceMs(const Pop3Pace& pace, int64_t bytes) {
  const int64_t rate = std::max<int64_t>(pace.minBytesPerSecond, 1);
  return std::max<int64_t>(bytes, 0) * 1000 / rate;
}

}  // namespace

ThreadRecvPOP::ThreadRecvPOP(ExternalAccount account, int timeoutMs, Pop3Pace pace)
    : account_(std::move(account)), timeoutMs_(timeoutMs), pace_(pace) {}

std::string ThreadRecvPOP::KeyPrefix(const ExternalAccount& a) {
  return a.user + "@" + a.server + " ";
}

LinkResult ThreadRecvPOP::Run(ReceiveContext& ctx) {
  if (preview_.mode != PreviewOrder::Mode::Off) return RunPreview(ctx);
  LinkResult result;
  auto note = [&](LinkStatus status, const std::string& text) {
    if (result.status == LinkStatus::Ok) {
      result.status = status;
      result.error = text;
    }
  };
  ctx.events.ShowSkip();

  client_.SetTimeout(timeoutMs_);
  // Every step has a deadline of its own, however the server paces its bytes: the log-in and
  // the counting, the listings (by the number of messages), then each message (below).
  client_.SetDeadline(Pop3Client::SteadyMs() + pace_.graceMs + timeoutMs_);
  if (!ConnectAndSignIn(client_, account_, kPop3sPort, result)) return result;
  LeftOnServerList& list = ctx.leftOnServer;
  const std::string prefix = KeyPrefix(account_);
  // Lines written before keys named the user began with the host alone.
  if (account_.keep) list.ReplacePrefix(account_.server + " ", prefix);

  auto sessionFailed = [&] {
    note(client_.error() == ErrorKind::Stopped ? LinkStatus::Stopped : LinkStatus::ReceiveFailed,
         client_.errorText());
  };

  int64_t count = 0, mailboxSize = 0;
  std::vector<int64_t> sizes;
  std::vector<std::string> uids;
  if (!client_.Stat(count, mailboxSize)) {
    sessionFailed();
    client_.Close();
    return result;
  }
  if (count > kMaxMessages) {
    note(LinkStatus::ReceiveFailed, "The server lists " + std::to_string(count) + " messages.");
    client_.Close();
    return result;
  }
  std::vector<std::string> deleted;  // keys whose DELE the server accepted
  std::vector<std::string> keys(static_cast<size_t>(count) + 1);
  bool allKeysKnown = true;
  bool completed = false;

  if (count > 0) {
    client_.SetDeadline(Pop3Client::SteadyMs() + pace_.graceMs + PaceMs(pace_, count * 64));
    if (!client_.List(count, sizes)) {
      sessionFailed();
      client_.Close();
      return result;
    }
    bool haveUidl = !client_.caps().known || client_.caps().uidl;
    if (haveUidl && !client_.Uidl(count, uids)) {
      if (client_.error() != ErrorKind::ServerError) {
        sessionFailed();
        client_.Close();
        return result;
      }
      uids.clear();
    }
    uids.resize(static_cast<size_t>(count) + 1);
    bool hadLines = !list.WithPrefix(prefix).empty();
    bool blocking = static_cast<bool>(ctx.isBlocked);
    // Without UIDL, messages with the same Message-ID are told apart by their order.
    std::map<std::string, int> occurrences;
    std::unordered_set<std::string> addedThisRun;

    int64_t total = 0;
    for (int64_t n = 1; n <= count; ++n) total += std::max<int64_t>(sizes[n], 0);
    ctx.events.ReceiveStarting(total);
    int64_t base = 0;
    // The whole account has a deadline (of what there is to fetch), and so has each message.
    const int64_t accountDeadline = Pop3Client::SteadyMs() + 2 * pace_.graceMs + PaceMs(pace_, total);
    auto paceFor = [&](int64_t bytes) {
      client_.SetDeadline(std::min(accountDeadline, Pop3Client::SteadyMs() + pace_.graceMs + PaceMs(pace_, bytes)));
    };
    bool noRoom = false;

    BatchedSync batched(ctx.spool);
    struct Doomed {
      int64_t n;
      std::string key;
    };
    std::vector<Doomed> doomed;  // to be deleted once what was fetched is on the disk
    bool unsynced = false;
    uint64_t batchBytes = 0;
    size_t batchCount = 0;
    // Flushes the batch to the disk, then marks its messages for deletion. False when the
    // session or the disk failed.
    auto flush = [&]() -> bool {
      batchBytes = 0;
      batchCount = 0;
      if (unsynced && batched.enabled()) {
        std::string error;
        if (!SyncSpool(ctx.spool, error)) {
          note(LinkStatus::ReceiveFailed, error);
          for (const auto& d : doomed) keys[d.n] = d.key;
          doomed.clear();
          return false;
        }
      }
      unsynced = false;
      // What was fetched is remembered on the disk before anything is deleted: a run that is
      // killed before QUIT then finds these messages known and does not fetch them again.
      std::string saveError;
      if (!list.SaveIfModified(&saveError)) {
        note(LinkStatus::ReceiveFailed, saveError);
        for (const auto& d : doomed) keys[d.n] = d.key;
        doomed.clear();
        return false;
      }
      if (doomed.empty()) return true;
      std::vector<int64_t> numbers;
      for (const auto& d : doomed) numbers.push_back(d.n);
      std::vector<int> accepted;
      bool ok = client_.DeleMany(numbers, accepted);
      for (size_t i = 0; i < doomed.size(); ++i) {
        const Doomed& d = doomed[i];
        if (accepted[i] == 1) {
          if (!d.key.empty()) deleted.push_back(prefix + d.key);
          continue;
        }
        if (accepted[i] == 0)
          note(LinkStatus::ReceiveFailed, "Message " + std::to_string(d.n) + ": the server refused to delete it.");
        if (d.key.empty()) allKeysKnown = false;
        keys[d.n] = d.key;
      }
      doomed.clear();
      return ok;
    };

    int64_t n = 1;
    for (; n <= count; ++n) {
      if (client_.IsStopped() || !client_.IsUsable()) break;
      const int64_t listed = sizes[n];
      std::string key = uids[n].empty() ? std::string() : std::string(kUidlKey) + uids[n];
      bool keyFromOrder = key.empty();
      std::string from;
      bool headerRead = false;
      paceFor(listed);
      if (blocking || (key.empty() && (account_.keep || hadLines))) {
        std::string header;
        if (!client_.Top(n, header)) {
          if (!client_.IsUsable()) break;
          // The message stays on the server; the next run tries again.
          note(LinkStatus::ReceiveFailed, client_.errorText());
          allKeysKnown = false;
          base += std::max<int64_t>(listed, 0);
          continue;
        }
        HeaderScan scan = ScanHeader(header);
        from = scan.from;
        headerRead = true;
        if (key.empty()) key = scan.messageId.empty() ? "hdr:" + Hex(scan.digest) : scan.messageId;
      }
      auto ordered = [&](std::string k) {
        int nth = ++occurrences[k];
        return nth > 1 ? k + " #" + std::to_string(nth) : k;
      };
      if (keyFromOrder && !key.empty()) key = ordered(key);

      bool blocked = headerRead && blocking && !from.empty() && ctx.isBlocked(SenderKey(from));
      bool seen = !key.empty() && !addedThisRun.count(key) && list.Contains(prefix + key);
      bool fetched = false;
      if (!blocked && !seen) {
        NetworkMessageWriter writer;
        if (!writer.Open(ctx.spool, account_.name)) {
          note(LinkStatus::ReceiveFailed, writer.errorText());
          break;
        }
        bool diskFailed = false;
        int64_t got = 0;
        bool ok = client_.Retr(n, RetrCap(listed), [&](std::string_view line) {
          if (!writer.Line(line)) {
            diskFailed = true;
            return false;
          }
          got += static_cast<int64_t>(line.size());
          ctx.events.Progress(base + std::min(got, std::max<int64_t>(listed, 0)));
          return true;
        });
        if (ok && !diskFailed && key.empty()) {
          key = writer.messageId().empty() ? "hdr:" + Hex(writer.HeaderDigest()) : writer.messageId();
          key = ordered(key);
        }
        // A key the server vouches for (UIDL) goes with the file, so a copy fetched again after
        // a crash is dropped when it is filed.
        const std::string fileKey = keyFromOrder ? std::string() : prefix + key;
        if (ok && !diskFailed && writer.Commit(fileKey)) {
          unsynced = true;
          batchBytes += writer.size();
          ++batchCount;
          fetched = true;
          ++result.messagesSpooled;
          ctx.events.MessageSpooled(writer.Path());
          if (!RoomToFile(ctx.spool, writer.size())) noRoom = true;
          // Remembered even when the message is to be deleted: until QUIT is acknowledged it
          // is still on the server.
          list.Add(prefix + key);
          addedThisRun.insert(key);
        } else {
          writer.Discard();
          if (diskFailed || (ok && !writer.errorText().empty())) {
            note(LinkStatus::ReceiveFailed, writer.errorText());
            break;  // a full disk fails every further message too
          }
          if (!client_.IsUsable()) break;
          note(LinkStatus::ReceiveFailed,
               "Message " + std::to_string(n) + ": " + client_.errorText());
          allKeysKnown = allKeysKnown && !key.empty();
          keys[n] = key;
          base += std::max<int64_t>(listed, 0);
          continue;
        }
      }
      base += std::max<int64_t>(listed, 0);
      ctx.events.Progress(base);
      if ((fetched || blocked || seen) && !account_.keep && !(fetched && noRoom)) {
        doomed.push_back({n, key});
      } else {
        if (key.empty()) allKeysKnown = false;
        keys[n] = key;
      }
      if (noRoom) {
        // The message is safe in the spool but the disk has no room to file it: it stays on
        // the server too, and nothing more is fetched.
        note(LinkStatus::ReceiveFailed, "The disk is full: " + ctx.spool.folder());
        break;
      }
      if ((doomed.size() >= kBatchMessages || batchCount >= kBatchMessages || batchBytes >= kBatchBytes) &&
          !flush())
        break;
    }
    client_.SetDeadline(0);
    // What was fetched reaches the disk (and its deletions the server) even after a failure,
    // as long as the session still works.
    if (client_.IsUsable()) {
      if (!flush()) n = std::min(n, count);
    } else if (unsynced && batched.enabled()) {
      std::string error;
      SyncSpool(ctx.spool, error);
      for (const auto& d : doomed) keys[d.n] = d.key;
    }
    completed = n > count && !noRoom;
    ctx.events.ReceiveFinished();
  } else {
    completed = true;
  }
  client_.SetDeadline(0);

  if (!client_.IsUsable()) {
    sessionFailed();
    client_.Close();
    return result;
  }
  client_.SetDeadline(0);  // QUIT has a time-out of its own
  if (!client_.Quit()) {
    // The deletions may not have happened: every fetched message stays remembered.
    sessionFailed();
    return result;
  }
  for (const auto& k : deleted) list.Remove(k);
  // Lines of messages the server no longer lists are forgotten.
  if (completed && allKeysKnown) {
    std::unordered_set<std::string> current;
    for (int64_t i = 1; i <= count; ++i)
      if (!keys[i].empty()) current.insert(prefix + keys[i]);
    for (const auto& line : list.WithPrefix(prefix))
      if (!current.count(line)) list.Remove(line);
  }
  return result;
}

}  // namespace px::transport::pop3

#include "transport/receive_chain.h"

namespace px::transport::pop3 {

void AddPop3Links(ThreadRecvChain& chain, const std::vector<ExternalAccount>& accounts, int timeoutMs,
                  Pop3Pace pace) {
  for (const auto& a : accounts) {
    if (a.IsService() || a.IsImap()) continue;
    bool ready = a.enabled && a.IsComplete();
    chain.AddLink(std::make_unique<ThreadRecvPOP>(a, timeoutMs, pace));
    chain.SetTicked(chain.LinkCount() - 1, ready);
  }
}

}  // namespace px::transport::pop3
