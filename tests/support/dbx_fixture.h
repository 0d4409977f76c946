#pragma once
// Outlook Express store files made at test time from their documented layout (no real store is
// at hand): a folder list "folders.dbx" and message folder files, with switches for the odd
// cases a reader must survive (start offsets of 0, negative counts, a record without its text
// property, looping block chains, blocks longer than the file, very deep trees).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace px::test {

inline void PutU32(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4, '\0');
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline const char kDbxFolderSig[] = "\xCF\xAD\x12\xFE\xC6\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0";
inline const char kDbxMessageSig[] = "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0";

struct DbxFolderSpec {
  uint32_t id, parent;
  std::string name, file;
};

// A folder list: every folder a record of one tree node. zeroStart puts the node at 60092 and
// leaves the header's start offset 0.
inline std::string MakeDbxFolderList(const std::vector<DbxFolderSpec>& folders, bool zeroStart = false) {
  std::string b(zeroStart ? 60092 : 0x400, '\0');
  b.replace(0, 16, std::string(kDbxFolderSig, 16));
  const uint32_t node = static_cast<uint32_t>(b.size());
  PutU32(b, 236, zeroStart ? 0 : node);
  b.resize(node + 24 + 12 * folders.size(), '\0');
  PutU32(b, node, node);
  b[node + 0x11] = static_cast<char>(folders.size() & 0xFF);
  b[node + 0x12] = static_cast<char>((folders.size() >> 8) & 0xFF);
  for (size_t i = 0; i < folders.size(); ++i) {
    const DbxFolderSpec& f = folders[i];
    const uint32_t rec = static_cast<uint32_t>(b.size());
    std::string body;
    body.resize(8, '\0');
    PutU32(body, 0, 0x80 | (f.id << 8));
    PutU32(body, 4, 0x81 | (f.parent << 8));
    body += f.name + std::string(1, '\0') + f.file + std::string(1, '\0');
    // The reader takes the file name only from a body at least 4 N + 2 * name + 6 long.
    body.resize(std::max(body.size(), 8 + 2 * f.name.size() + 6), '\0');
    std::string h(12, '\0');
    PutU32(h, 0, rec);
    PutU32(h, 4, static_cast<uint32_t>(body.size()));
    h[10] = 2;
    b += h + body;
    PutU32(b, node + 0x18 + 12 * i, rec);
  }
  return b;
}

struct DbxMessageOptions {
  bool zeroStart = false;        // header start offset 0: the node at 123476
  int32_t count = -2;            // header message count; -2: the real number
  bool withoutTextProperty = false;  // the text offset comes after the list's end
  size_t blockSize = 512;        // text split into blocks of this size
  bool loopChain = false;        // the last block points back to the first
  bool overlongBlock = false;    // the last block says it is longer than the file
  int deepNodes = 0;             // that many empty nodes chained through +8 before the messages
};

inline std::string MakeDbxMessageFile(const std::vector<std::string>& messages, const DbxMessageOptions& o = {}) {
  std::string b(o.zeroStart ? 123476 : 0x400, '\0');
  b.replace(0, 16, std::string(kDbxMessageSig, 16));
  PutU32(b, 196, static_cast<uint32_t>(o.count == -2 ? static_cast<int32_t>(messages.size()) : o.count));
  uint32_t first = static_cast<uint32_t>(b.size());
  PutU32(b, 48, o.zeroStart ? 0 : first);
  // Deep chain: node k's +8 is node k+1; the last one's +8 is the node with the messages.
  for (int k = 0; k < o.deepNodes; ++k) {
    const uint32_t at = static_cast<uint32_t>(b.size());
    b.resize(at + 24 + 12, '\0');
    PutU32(b, at, at);
    PutU32(b, at + 8, at + 36);
  }
  const uint32_t node = static_cast<uint32_t>(b.size());
  b.resize(node + 24 + 12 * (messages.size() + 1), '\0');
  PutU32(b, node, node);
  for (size_t i = 0; i < messages.size(); ++i) {
    const uint32_t rec = static_cast<uint32_t>(b.size());
    b.resize(rec + 24 + 16, '\0');
    PutU32(b, rec, rec);
    const uint32_t textPos = rec + 24 + 16;
    if (o.withoutTextProperty) {
      PutU32(b, rec + 24, 0x01 | (7u << 8));
      PutU32(b, rec + 28, 0x80);  // low seven bits zero: the list ends
      PutU32(b, rec + 32, 12345);
      PutU32(b, rec + 36, textPos);
    } else {
      PutU32(b, rec + 24, 0x01 | (7u << 8));
      PutU32(b, rec + 28, 0x84 | (textPos << 8));
      PutU32(b, rec + 32, 0);
    }
    const std::string& text = messages[i];
    std::vector<uint32_t> blocks;
    for (size_t p = 0; p < text.size() || (p == 0 && text.empty()); p += o.blockSize) {
      const std::string piece = text.substr(p, o.blockSize);
      const uint32_t at = static_cast<uint32_t>(b.size());
      blocks.push_back(at);
      std::string h(16, '\0');
      PutU32(h, 0, at);
      PutU32(h, 8, static_cast<uint32_t>(piece.size()));
      b += h + piece;
      if (text.empty()) break;
    }
    for (size_t k = 0; k + 1 < blocks.size(); ++k) PutU32(b, blocks[k] + 12, blocks[k + 1]);
    if (o.loopChain) PutU32(b, blocks.back() + 12, blocks.front());
    if (o.overlongBlock) PutU32(b, blocks.back() + 8, 0x7FFFFFF0);
    PutU32(b, node + 0x18 + 12 * i, rec);
  }
  if (o.deepNodes > 0) {
    // The last deep node leads to the message node.
    PutU32(b, first + 36 * (o.deepNodes - 1) + 8, node);
  }
  return b;
}

}  // namespace px::test
