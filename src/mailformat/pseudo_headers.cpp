#include "mailformat/pseudo_headers.h"

#include <vector>

#include "mailformat/mime_header.h"

namespace px::mailformat {

std::optional<std::string> SafeFolderValue(std::string_view value) {
  std::string_view v = TrimView(value);
  if (v.empty()) return std::string();
  if (v[0] == '/' || v[0] == '\\') return std::nullopt;
  if (v.size() >= 2 && v[1] == ':') return std::nullopt;  // drive letter
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= v.size(); ++i) {
    if (i == v.size() || v[i] == '/' || v[i] == '\\') {
      std::string_view p = TrimView(v.substr(start, i - start));
      start = i + 1;
      if (p.empty()) continue;
      if (p == "." || p == "..") return std::nullopt;
      for (char c : p)
        if (static_cast<unsigned char>(c) < 0x20 || c == ':' || c == 0x7f) return std::nullopt;
      pieces.push_back(p);
    }
  }
  if (pieces.size() > 64) return std::nullopt;
  std::string r;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i) r += '\\';
    r += pieces[i];
  }
  return r;
}

std::string ImportPseudoHeaders(std::string_view folder, bool outbound, bool draft) {
  std::string r = "_Folder: " + OneLine(folder) + "\r\n";
  if (outbound) r += "_Outbound: *\r\n";
  if (draft) r += "_Draft: *\r\n";
  return r;
}

std::string AccountHeaderLine(std::string_view account) {
  return std::string(kAccountHeader) + ": " + OneLine(account) + "\r\n";
}

std::string InsertAccountHeader(std::string_view message, std::string_view account) {
  std::string line = AccountHeaderLine(account);
  // Find the first empty line (LF LF or LF CR LF), or a message that starts with one.
  size_t pos = std::string_view::npos;
  if (message.starts_with("\r\n") || message.starts_with("\n")) {
    pos = 0;
  } else {
    for (size_t i = message.find('\n'); i != std::string_view::npos;
         i = message.find('\n', i + 1)) {
      size_t j = i + 1;
      if (j < message.size() && message[j] == '\r') ++j;
      if (j < message.size() && message[j] == '\n') {
        pos = i + 1;
        break;
      }
    }
  }
  std::string r;
  r.reserve(message.size() + line.size() + 2);
  if (pos == std::string_view::npos) {
    r.append(message);
    if (!r.empty() && r.back() != '\n') r += "\r\n";
    r += line;
    return r;
  }
  r.append(message.substr(0, pos));
  r += line;
  r.append(message.substr(pos));
  return r;
}

bool IsPseudoHeaderLine(std::string_view line) {
  for (auto name : {kFolderHeader, kOutboundHeader, kDraftHeader, kUnreadHeader, kAccountHeader, kProgramHeader})
    if (HeaderNameMatches(line, name)) return true;
  return StartsWithNoCase(line, kProgramHeader);
}

}  // namespace px::mailformat
