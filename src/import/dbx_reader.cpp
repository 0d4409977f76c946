#include "import/dbx_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

namespace px::import {

namespace {

constexpr uint8_t kFolderListSig[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F,
                                        0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
constexpr uint8_t kMessageSig[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                     0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
constexpr size_t kMaxFolderBody = 1024;
constexpr int kMaxNodeEntries = 255;          // the count is one byte wide in the layout's use
constexpr int kMaxMessageProperties = 256;
constexpr size_t kMaxFolders = 100000;
constexpr size_t kMaxNameBytes = 255;

bool HasSignature(const DbxBytes& f, const uint8_t (&sig)[16]) {
  uint8_t head[16];
  return f.Read(0, head, 16) && std::memcmp(head, sig, 16) == 0;
}

// An offset worth following: inside the file, room for `need` bytes, not seen before.
bool Fresh(const DbxBytes& f, uint64_t off, uint64_t need, std::unordered_set<uint32_t>& seen) {
  if (off == 0 || off >= f.size() || f.size() - off < need) return false;
  return seen.insert(static_cast<uint32_t>(off)).second;
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct RawFolder {
  std::string name, file;
  uint32_t id = 0, parent = 0;
};

bool ReadFolderRecord(const DbxBytes& f, uint32_t off, std::unordered_set<uint32_t>& seen, RawFolder& out) {
  if (!Fresh(f, off, 12, seen)) return false;
  uint8_t h[12];
  if (!f.Read(off, h, 12) || Le32(h) != off) return false;
  const uint32_t length = Le32(h + 4);
  const int props = h[10];
  const size_t body = static_cast<size_t>(std::min<uint64_t>({length, kMaxFolderBody, f.size() - off - 12}));
  std::string b(body, '\0');
  if (!f.Read(off + 12, b.data(), body)) return false;
  if (static_cast<size_t>(props) * 4 > body) return false;
  for (int i = 0; i < props; ++i) {
    const uint32_t v = Le32(reinterpret_cast<const uint8_t*>(b.data()) + 4 * i);
    if ((v & 0xFF) == 0x80) out.id = v >> 8;
    else if ((v & 0xFF) == 0x81) out.parent = v >> 8;
  }
  const size_t nameAt = static_cast<size_t>(props) * 4;
  const size_t nameEnd = b.find('\0', nameAt);
  out.name = b.substr(nameAt, std::min(nameEnd == std::string::npos ? body : nameEnd, nameAt + kMaxNameBytes) - nameAt);
  if (nameEnd != std::string::npos && 4 * static_cast<uint64_t>(props) + 2 * out.name.size() + 6 <= length) {
    const size_t fileEnd = b.find('\0', nameEnd + 1);
    if (fileEnd != std::string::npos) out.file = b.substr(nameEnd + 1, std::min(fileEnd - nameEnd - 1, kMaxNameBytes));
  }
  return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The message text offset of a message record; 0 when it has none.
uint32_t TextOffsetOf(const DbxBytes& f, uint32_t off, std::unordered_set<uint32_t>& seen) {
  if (!Fresh(f, off, 24, seen)) return 0;
  uint32_t own = 0;
  if (!f.U32(off, own) || own != off) return 0;
  uint64_t p = off + 24;
  for (int i = 0; i < kMaxMessageProperties; ++i, p += 4) {
    uint32_t v = 0;
    if (!f.U32(p, v)) return 0;
    if ((v & 0xFF) == 0x84) return v >> 8;
    if ((v & 0x7F) == 0) {
      uint32_t second = 0;
      return f.U32(p + 8, second) ? second : 0;
    }
  }
  return 0;
}

}  // namespace

DbxBytes DbxBytes::OfMemory(std::string_view bytes) {
  DbxBytes b;
  b.mem_ = bytes;
  b.size_ = bytes.size();
  return b;
}

DbxBytes::DbxBytes(DbxBytes&& o) noexcept : fd_(o.fd_), mem_(o.mem_), size_(o.size_) { o.fd_ = -1; }

DbxBytes::~DbxBytes() {
  if (fd_ >= 0) ::close(fd_);
}

bool DbxBytes::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool DbxBytes::Read(uint64_t off, void* out, size_t n) const {
  if (off > size_ || size_ - off < n) return false;
  if (fd_ < 0) {
    std::memcpy(out, mem_.data() + off, n);
    return true;
  }
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, static_cast<char*>(out) + done, n - done, static_cast<off_t>(off + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

bool DbxBytes::U32(uint64_t off, uint32_t& v) const {
  uint8_t b[4];
  if (!Read(off, b, 4)) return false;
  v = Le32(b);
  return true;
}

std::vector<DbxFolder> ReadDbxFolders(const DbxBytes& f) {
  std::vector<DbxFolder> out;
  if (!HasSignature(f, kFolderListSig)) return out;
  uint32_t start = 0;
  if (!f.U32(236, start)) return out;
  if (start == 0) start = 60092;
  std::unordered_set<uint32_t> seen;
  std::vector<RawFolder> raw;
  std::vector<uint32_t> stack = {start};
  while (!stack.empty() && raw.size() < kMaxFolders) {
    uint32_t node = stack.back();
    stack.pop_back();
    // A node and the nodes it continues with (+0xC), then +8.
    while (node != 0) {
      if (!Fresh(f, node, 24, seen)) break;
      uint8_t h[24];
      if (!f.Read(node, h, 24) || Le32(h) != node) break;
      const int entries = std::min<int>(h[0x11] | (h[0x12] << 8), kMaxNodeEntries);
      for (int i = 0; i < entries; ++i) {
        uint8_t e[12];
        if (!f.Read(node + 0x18 + 12ull * i, e, 12)) break;
        RawFolder r;
        if (ReadFolderRecord(f, Le32(e), seen, r) && raw.size() < kMaxFolders) raw.push_back(std::move(r));
        if (Le32(e + 4)) stack.push_back(Le32(e + 4));
      }
      const uint32_t next = Le32(h + 0xC), child = Le32(h + 8);
      if (next != 0) {
        node = next;
      } else {
        if (child) stack.push_back(child);
        node = 0;
      }
    }
  }
  // The tree by parent id, built top down with an explicit stack; "Local Folders" is the root
  // that stays (without a name of its own in the paths), other top-level stores go.
  std::vector<bool> used(raw.size(), false);
  struct Level {
    uint32_t id;
    std::vector<std::string> names;
  };
  std::vector<Level> todo;
  for (size_t i = raw.size(); i-- > 0;)
    if (raw[i].parent == 0 && EqualNoCase(raw[i].name, "Local Folders") && !used[i]) {
      used[i] = true;
      todo.push_back({raw[i].id, {}});
    }
  while (!todo.empty()) {
    Level level = std::move(todo.back());
    todo.pop_back();
    std::vector<Level> children;
    for (size_t i = raw.size(); i-- > 0;) {
      if (used[i] || raw[i].parent != level.id || raw[i].id == level.id) continue;
      used[i] = true;
      DbxFolder d;
      d.names = level.names;
      d.names.push_back(raw[i].name);
      d.file = raw[i].file;
      d.tickedAtFirst = !EqualNoCase(raw[i].name, "Deleted Items") && !EqualNoCase(raw[i].name, "Outbox");
      out.push_back(d);
      if (d.names.size() < 64) children.push_back({raw[i].id, d.names});
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) todo.push_back(std::move(*it));
  }
  return out;
}

int64_t DbxMessageCount(const DbxBytes& f) {
  uint32_t v = 0;
  if (!HasSignature(f, kMessageSig) || !f.U32(196, v)) return 0;
  const int32_t n = static_cast<int32_t>(v);
  return n < 0 ? 0 : n;
}

bool ForEachDbxMessage(const DbxBytes& f, const std::function<bool(std::string_view)>& each, uint64_t* cut) {
  if (!HasSignature(f, kMessageSig)) return false;
  uint32_t start = 0;
  if (!f.U32(48, start)) return false;
  if (start == 0) start = 123476;
  std::unordered_set<uint32_t> seen;
  // Work items: a node to walk, or a message record to read.
  struct Item {
    uint32_t off;
    bool record;
  };
  std::vector<Item> stack = {{start, false}};
  std::string text;
  while (!stack.empty()) {
    Item it = stack.back();
    stack.pop_back();
    if (it.record) {
      const uint32_t at = TextOffsetOf(f, it.off, seen);
      if (!Fresh(f, at, 16, seen)) continue;
      text.clear();
      std::unordered_set<uint32_t> chain;
      uint32_t block = at;
      bool first = true;
      while (block != 0) {
        if (!first && (!Fresh(f, block, 16, chain) || seen.count(block))) break;
        if (first) chain.insert(block);
        first = false;
        uint8_t h[16];
        if (!f.Read(block, h, 16) || Le32(h) != block) break;
        const uint32_t length = Le32(h + 8), next = Le32(h + 12);
        // A block longer than what follows it in the file is damaged: the text ends there.
        if (length > f.size() - block - 16) break;
        const uint64_t room = kMaxDbxMessage - text.size();
        const size_t take = static_cast<size_t>(std::min<uint64_t>(length, room));
        const size_t was = text.size();
        text.resize(was + take);
        if (!f.Read(block + 16, text.data() + was, take)) {
          text.resize(was);
          break;
        }
        if (take < length) {
          if (cut) ++*cut;
          break;
        }
        block = next;
      }
      if (!text.empty() && !each(text)) return true;
      continue;
    }
    if (!Fresh(f, it.off, 24, seen)) continue;
    uint8_t h[24];
    if (!f.Read(it.off, h, 24) || Le32(h) != it.off) continue;
    // Order: the node at +8, then +0xC, then each entry (its record, then its child node).
    std::vector<Item> order;
    if (Le32(h + 8)) order.push_back({Le32(h + 8), false});
    if (Le32(h + 0xC)) order.push_back({Le32(h + 0xC), false});
    for (int i = 0; i < kMaxNodeEntries; ++i) {
      uint8_t e[12];
      if (!f.Read(it.off + 0x18 + 12ull * i, e, 12)) break;
      const uint32_t object = Le32(e), child = Le32(e + 4);
      if (object == 0 && child == 0) break;
      if (object) order.push_back({object, true});
      if (child) order.push_back({child, false});
    }
    for (auto o = order.rbegin(); o != order.rend(); ++o) stack.push_back(*o);
  }
  return true;
}

}  // namespace px::import
