#include "mailformat/mhtml_loader.h"

#include <fstream>

#include "foundation/charset.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_reader.h"
#include "mailformat/mime_header.h"

namespace px::mailformat {

std::string ReferenceKey(std::string_view reference) {
  std::string_view r = TrimView(reference);
  return SlashesToBackslashes(FileUrlToPath(r));
}

namespace {

std::string AsciiLowerCopy(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

// The charset a META tag of the HTML declares, or "".
std::string MetaCharset(std::string_view html) {
  std::string head = AsciiLowerCopy(html.substr(0, 8192));
  size_t at = 0;
  while ((at = head.find("<meta", at)) != std::string::npos) {
    size_t close = head.find('>', at);
    std::string_view tag = std::string_view(head).substr(at, close == std::string::npos ? std::string::npos : close - at);
    size_t cs = tag.find("charset=");
    if (cs != std::string_view::npos) {
      size_t v = cs + 8;
      if (v < tag.size() && (tag[v] == '"' || tag[v] == '\'')) ++v;
      size_t e = v;
      while (e < tag.size() && std::string_view("\t \"';>/").find(tag[e]) == std::string_view::npos) ++e;
      if (e > v) return std::string(tag.substr(v, e - v));
    }
    at += 5;
  }
  return {};
}

bool IsMimeDocument(std::string_view name) {
  auto endsWith = [&](std::string_view ext) {
    return name.size() >= ext.size() && StartsWithNoCase(name.substr(name.size() - ext.size()), ext);
  };
  return endsWith(".mht") || endsWith(".eml");
}

void ReadPlainHtml(std::string_view bytes, MhtmlDocument& doc) {
  std::string raw(bytes);
  doc.charset = MetaCharset(raw);
  doc.html = doc.charset.empty() ? raw : DecodeFromCharset(raw, doc.charset);
}

}  // namespace

bool ReadMhtmlBytes(std::string_view bytes, std::string_view name, const std::string& tempFolder,
                    RandomSource& random, MhtmlDocument& doc, const MhtmlLimits& limits) {
  doc = MhtmlDocument{};
  if (!IsMimeDocument(name)) {
    ReadPlainHtml(bytes, doc);
    return true;
  }
  return ReadMhtmlMemory(bytes, tempFolder, random, doc, limits);
}

bool ReadMhtmlDocument(const std::string& path, const std::string& tempFolder, RandomSource& random,
                       MhtmlDocument& doc, const MhtmlLimits& limits) {
  doc = MhtmlDocument{};
  if (IsMimeDocument(path)) return ReadMhtmlFile(path, tempFolder, random, doc, limits);
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (f.bad()) return false;
  ReadPlainHtml(bytes, doc);
  return true;
}

}  // namespace px::mailformat
