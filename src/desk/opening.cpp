#include "desk/opening.h"

#include "platform/process_launch.h"
#include "platform/window_probe.h"
#include "store/doc_record.h"
#include "store/index_value.h"

#include <algorithm>
#include <array>
#include <sys/stat.h>

namespace px::desk {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> list) {
  for (const char* item : list)
    if (value == item) return true;
  return false;
}

// Extensions that run code wherever they are opened.
bool ProgramExtension(const std::string& ext) {
  return OneOf(ext, {"exe", "com", "dll", "lnk", "bat", "cmd", "scr", "pif", "msi", "desktop", "sh", "bash", "run",
                     "bin", "appimage", "jar", "py", "pl", "rb", "ps1", "vbs", "js", "jse", "wsf", "hta", "cpl",
                     "reg", "deb", "rpm", "flatpakref"});
}

std::string WithoutExt(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool DefaultPoll(pid_t pid, bool* exitedQuickly, std::int64_t startedMs, std::int64_t nowMs) {
  int code = 0;
  const platform::ProcessState st = platform::PollProcess(pid, &code);
  if (st == platform::ProcessState::Running) return true;
  // A launcher that hands the file to a running instance ends at once and well.
  if (exitedQuickly) *exitedQuickly = st == platform::ProcessState::Exited && code == 0 && nowMs - startedMs < 3000;
  return false;
}

}  // namespace

bool IsRunnableMimeType(const std::string& mimeType, const std::vector<std::string>& ancestors) {
  static const std::array<const char*, 14> kRunnable = {
      "application/x-executable",  "application/x-sharedlib",        "application/x-shellscript",
      "application/x-desktop",     "application/x-ms-dos-executable", "application/x-msdownload",
      "application/x-msi",         "application/vnd.microsoft.portable-executable",
      "application/x-perl",        "text/x-python",                   "application/x-python-code",
      "application/java-archive",  "application/x-deb",               "application/x-rpm"};
  auto runnable = [&](const std::string& t) {
    return std::find_if(kRunnable.begin(), kRunnable.end(), [&](const char* r) { return t == r; }) != kRunnable.end();
  };
  if (runnable(mimeType)) return true;
  return std::any_of(ancestors.begin(), ancestors.end(), runnable);
}

OpenDecision DecideOpen(const OpenRequest& request) {
  OpenDecision d;
  if (request.markerEntry) {
    d.route = OpenRoute::Ignore;
    return d;
  }
  const std::string ext = Lower(request.ext);
  const bool received = (request.flags & store::dfReceived) != 0;
  if (received && (request.executable || request.runnableType || ProgramExtension(ext))) {
    d.route = OpenRoute::Refuse;
    d.message = "Sorry, but this file came as mail and may be a program. Plumadex does not run programs "
                "received by mail.";
    return d;
  }
  if (ext == "txt") {
    d.route = OpenRoute::InternalText;
  } else if (ext == "eml") {
    d.route = OpenRoute::InternalHtml;
  } else if (ext == "vcf" && received) {
    d.route = OpenRoute::ContactCard;
  } else if (request.executable || ext == "desktop") {
    // The user's own programs and menu entries run, as they would from the file manager.
    d.route = OpenRoute::RunProgram;
  } else {
    d.route = OpenRoute::Associated;
  }
  return d;
}

bool EditableInPlace(bool restrictedFolder, int flags, bool indexHasMailEntry) {
  return !restrictedFolder && (flags & store::dfSealed) == 0 && !indexHasMailEntry;
}

FileStamp StampOf(const std::string& path) {
  FileStamp s;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

CloseOutcome DecideClose(const OpenRecord& r, const FileStamp& now, const std::string& documentsName) {
  CloseOutcome out;
  const bool changed = now.exists && !(now == r.stamp);
  if (!changed) return out;
  switch (r.kind) {
    case RecordKind::Sticker:
    case RecordKind::Cover:
      // The editor's own closing files these.
      return out;
    case RecordKind::NewDocument:
      out.action = CloseAction::StoreAsNew;
      if (r.restrictedFolder) {
        out.intoDocumentsFolder = true;
        out.messages.push_back("You cannot create files in that folder, therefore a new file will be created in " +
                               documentsName);
      }
      return out;
    case RecordKind::Document:
      break;
  }
  if (r.editableInPlace) {
    out.action = CloseAction::ShowNewDate;
    return out;
  }
  out.action = CloseAction::StoreAsNew;
  if (r.restrictedFolder) {
    out.intoDocumentsFolder = true;
    out.messages.push_back("You cannot change this file, therefore a new file will be created");
    out.messages.push_back("You cannot create files in that folder, therefore a new file will be created in " +
                           documentsName);
  } else {
    out.messages.push_back("You cannot change this file, therefore a new file will be created");
  }
  return out;
}

std::vector<std::string> TitleHints(const OpenRecord& r) {
  std::vector<std::string> hints;
  auto add = [&](const std::string& h) {
    if (!h.empty() && std::find(hints.begin(), hints.end(), h) == hints.end()) hints.push_back(h);
  };
  add(r.titleHint);
  add(r.openedPath);
  const std::string shownName = r.openedPath.substr(r.openedPath.rfind('/') + 1);
  add(shownName);
  add(WithoutExt(shownName));
  return hints;
}

int OpenRecords::Add(OpenRecord record) {
  record.id = nextId_++;
  record.lastSeen = record.stamp;
  records_.push_back(std::move(record));
  return records_.back().id;
}

const OpenRecord* OpenRecords::Find(const std::string& folder, const std::string& fileName) const {
  for (const OpenRecord& r : records_)
    if (r.folder == folder && r.fileName == fileName) return &r;
  return nullptr;
}

std::optional<OpenRecords::Closed> OpenRecords::CloseInternal(int id) {
  for (auto it = records_.begin(); it != records_.end(); ++it)
    if (it->id == id) {
      Closed c{std::move(*it), false};
      records_.erase(it);
      return c;
    }
  return std::nullopt;
}

std::vector<OpenRecords::Closed> OpenRecords::Tick(platform::WindowProbe* probe, std::int64_t nowMs, PollFn poll) {
  if (!poll) poll = DefaultPoll;
  std::vector<Closed> closed;
  for (auto it = records_.begin(); it != records_.end();) {
    OpenRecord& r = *it;
    bool ended = false, neverFound = false;
    if (r.pid <= 0) {  // internal editors close themselves
      ++it;
      continue;
    }
    if (r.handedOver) {
      // The file is all we can see: the record ends once it has been saved and left alone
      // for a few seconds, or after the usual twenty seconds when it was never changed.
      const FileStamp s = StampOf(r.openedPath);
      if (!(s == r.lastSeen)) {
        r.lastSeen = s;
        r.settleTicks = 0;
      } else {
        ++r.settleTicks;
      }
      const bool changed = !(r.lastSeen == r.stamp);
      ended = changed ? r.settleTicks >= 5 : --r.countdown <= 0;
    } else if (r.window) {
      if (!probe || !probe->WindowExists(r.window)) ended = true;
    } else {
      if (r.watchWindow && probe) {
        r.window = probe->FindWindow(r.pid, TitleHints(r));
        if (r.window && !r.broughtForward) {
          probe->Activate(r.window);
          r.broughtForward = true;
        }
      }
      if (!r.window) {
        bool quick = false;
        const bool running = poll(r.pid, &quick, r.startedMs, nowMs);
        // Without a window to watch, the program's lifetime tells when the document is closed.
        if (!running && quick) {
          r.handedOver = true;
        } else if (!running) {
          ended = true;
          neverFound = probe && r.watchWindow;
        }
      }
    }
    if (ended) {
      closed.push_back({std::move(r), neverFound});
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
  return closed;
}

std::string StickerTextForEditing(std::string_view storedValue) {
  return store::DecodeIndexText(storedValue).text;
}

std::string StickerValueFromText(const std::string& text) {
  StringList lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line.push_back(c);
    }
  }
  lines.push_back(line);
  while (!lines.empty() && lines.back().find_first_not_of(" \t") == std::string::npos) lines.pop_back();
  return lines.empty() ? std::string() : store::EncodeIndexValue(lines);
}

bool LpPrints(const std::string& mimeType, const std::vector<std::string>& ancestors) {
  auto ok = [](const std::string& t) {
    return t == "application/pdf" || t == "application/postscript" || t == "text/plain" || t.rfind("image/", 0) == 0;
  };
  return ok(mimeType) || std::any_of(ancestors.begin(), ancestors.end(), ok);
}

std::vector<std::string> PrintCommand(const std::string& path) { return {"lp", "--", path}; }

}  // namespace px::desk
