#include "mailformat/codecs.h"

#include <cstdint>

namespace px::mailformat {

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendPercent(std::string& out, unsigned char b, char lead = '%') {
  out += lead;
  out += kHexUpper[b >> 4];
  out += kHexUpper[b & 15];
}

constexpr char kB64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 0..63 for alphabet characters, 64 for "=", 0xFF for everything else.
struct B64Table {
  unsigned char v[256];
  constexpr B64Table() : v() {
    for (int i = 0; i < 256; ++i) v[i] = 0xFF;
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kB64Alphabet[i])] = static_cast<unsigned char>(i);
    v[static_cast<unsigned char>('=')] = 64;
  }
};
constexpr B64Table kB64;

struct QPSpecialTable {
  bool v[256];
  constexpr QPSpecialTable() : v() {
    v[static_cast<unsigned char>('=')] = v[static_cast<unsigned char>('\r')] = v[static_cast<unsigned char>('\n')] = true;
  }
};
constexpr QPSpecialTable kQPSpecial;

}  // namespace

// ---- URLs -------------------------------------------------------------------------------------

std::string UrlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '_' || c == '.' || c == '!' || c == '~' || c == '*' || c == '\'' ||
                c == '(' || c == ')';
    if (keep)
      out += ch;
    else
      AppendPercent(out, c);
  }
  return out;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string FileUrlPath(std::string_view path) {
  // The extension starts at the last "." of the last path element.
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) dot = path.size();
  std::string out;
  out.reserve(path.size() * 3);
  for (size_t i = 0; i < dot; ++i) {
    auto c = static_cast<unsigned char>(path[i]);
    bool escape = c < 0x20 || c == ' ' || c == '"' || c == '#' || c == '%' || c == '\'' || c == '<' ||
                  c == '>' || c == '[' || c == '\\' || c == ']' || c == '^' || c == '{' || c == '|' ||
                  c == '}' || c == '~' || c >= 0x7F;
    if (escape)
      AppendPercent(out, c);
    else
      out += path[i];
  }
  size_t colon = out.find("file:///") != std::string::npos ? 9 : 1;
  if (out.size() > colon && out[colon] == ':') out[colon] = '|';
  out.append(path.substr(dot));
  return out;
}

std::string FileUrlToPath(std::string_view text) {
  if (text.substr(0, 5) != "file:") return std::string(text);
  size_t i = 5;
  while (i < text.size() && text[i] == '/') ++i;
  return std::string(text.substr(i));
}

std::string SlashesToBackslashes(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

// ---- XML and HTML escapes ------------------------------------------------------------------

namespace {

// Replaces each character that has an entity in the escape function; others stay as they are.
template <typename Entity>
std::string EscapeWith(std::string_view text, Entity entity) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (const char* e = entity(c)) out += e;
    else out += c;
  }
  return out;
}

const char* HtmlEntity(char c) {
  switch (c) {
    case '"': return "&quot;";
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return nullptr;
  }
}

const char* XmlEntity(char c) {
  switch (c) {
    case '\'': return "&apos;";
    case '[': return "&#091;";
    case ']': return "&#093;";
    default: return HtmlEntity(c);
  }
}

}  // namespace

std::string XmlEscape(std::string_view text) { return EscapeWith(text, XmlEntity); }

std::string HtmlEscape(std::string_view text) { return EscapeWith(text, HtmlEntity); }

// ---- base64 -----------------------------------------------------------------------------------

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size(), i = 0;
  for (; i + 3 <= n; i += 3) {
    unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out += kB64Alphabet[v >> 18];
    out += kB64Alphabet[(v >> 12) & 63];
    out += kB64Alphabet[(v >> 6) & 63];
    out += kB64Alphabet[v & 63];
  }
  if (n - i == 1) {
    unsigned v = p[i] << 16;
    out += kB64Alphabet[v >> 18];
    out += kB64Alphabet[(v >> 12) & 63];
    out += "==";
  } else if (n - i == 2) {
    unsigned v = (p[i] << 16) | (p[i + 1] << 8);
    out += kB64Alphabet[v >> 18];
    out += kB64Alphabet[(v >> 12) & 63];
    out += kB64Alphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::vector<std::string> Base64EncodeLines(std::string_view bytes) {
  std::string all = Base64Encode(bytes);
  std::vector<std::string> lines;
  lines.reserve(all.size() / 76 + 1);
  for (size_t i = 0; i < all.size(); i += 76) lines.emplace_back(all.substr(i, 76));
  return lines;
}

std::string Base64Lines(std::string_view bytes) {
  std::string all = Base64Encode(bytes);
  std::string out;
  out.reserve(all.size() + all.size() / 76 * 2 + 2);
  for (size_t i = 0; i < all.size(); i += 76) {
    if (i) out += "\r\n";
    out.append(all, i, 76);
  }
  return out;
}

std::string Base64DecodeLine(std::string_view text) {
  std::string out;
  Base64Decoder d;
  d.Feed(text, out);
  d.Finish(out);
  return out;
}

void Base64Decoder::Reset() {
  quad_ = 0;
  count_ = 0;
}

void Base64Decoder::Feed(std::string_view chunk, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(chunk.data());
  const unsigned char* end = p + chunk.size();
  out.reserve(out.size() + chunk.size() / 4 * 3 + 3);
  unsigned quad = quad_;
  int count = count_;
  while (p < end) {
    // Fast path: four alphabet characters at a group boundary.
    if (count == 0) {
      while (end - p >= 4) {
        unsigned a = kB64.v[p[0]], b = kB64.v[p[1]], c = kB64.v[p[2]], d = kB64.v[p[3]];
        if ((a | b | c | d) >= 64) break;
        unsigned v = (a << 18) | (b << 12) | (c << 6) | d;
        char buf[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        out.append(buf, 3);
        p += 4;
      }
      if (p == end) break;
    }
    unsigned v = kB64.v[*p++];
    if (v < 64) {
      quad = (quad << 6) | v;
      if (++count == 4) {
        char buf[3] = {static_cast<char>(quad >> 16), static_cast<char>(quad >> 8), static_cast<char>(quad)};
        out.append(buf, 3);
        quad = 0;
        count = 0;
      }
    } else if (v == 64 && count > 0) {
      // Padding ends the group: it yields one byte fewer per missing character, at least one.
      quad_ = quad;
      count_ = count;
      Finish(out);
      quad = 0;
      count = 0;
    }
  }
  quad_ = quad;
  count_ = count;
}

void Base64Decoder::Finish(std::string& out) {
  if (count_ > 0) {
    unsigned v = quad_ << (6 * (4 - count_));
    int bytes = count_ > 1 ? count_ - 1 : 1;
    out += static_cast<char>(v >> 16);
    if (bytes > 1) out += static_cast<char>(v >> 8);
    if (bytes > 2) out += static_cast<char>(v);
  }
  Reset();
}

void Base64Encoder::EmitQuad(const unsigned char* in, std::string& out) {
  unsigned v = (in[0] << 16) | (in[1] << 8) | in[2];
  char buf[4] = {kB64Alphabet[v >> 18], kB64Alphabet[(v >> 12) & 63], kB64Alphabet[(v >> 6) & 63],
                 kB64Alphabet[v & 63]};
  out.append(buf, 4);
  column_ += 4;
  if (column_ >= 76) {
    out += "\r\n";
    column_ = 0;
  }
}

void Base64Encoder::Feed(std::string_view bytes, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size(), i = 0;
  out.reserve(out.size() + n / 3 * 4 + n / 57 * 2 + 8);
  while (pendingCount_ > 0 && pendingCount_ < 3 && i < n) pending_[pendingCount_++] = p[i++];
  if (pendingCount_ == 3) {
    EmitQuad(pending_, out);
    pendingCount_ = 0;
  }
  // Whole lines at once: 57 bytes make one line of 76 characters.
  while (column_ == 0 && i + 57 <= n) {
    char line[78];
    for (int k = 0; k < 19; ++k) {
      const unsigned char* in = p + i + 3 * k;
      unsigned v = (in[0] << 16) | (in[1] << 8) | in[2];
      line[4 * k] = kB64Alphabet[v >> 18];
      line[4 * k + 1] = kB64Alphabet[(v >> 12) & 63];
      line[4 * k + 2] = kB64Alphabet[(v >> 6) & 63];
      line[4 * k + 3] = kB64Alphabet[v & 63];
    }
    line[76] = '\r';
    line[77] = '\n';
    out.append(line, 78);
    i += 57;
  }
  for (; i + 3 <= n; i += 3) EmitQuad(p + i, out);
  while (i < n) pending_[pendingCount_++] = p[i++];
}

void Base64Encoder::Finish(std::string& out) {
  if (pendingCount_ > 0) {
    std::string tail = Base64Encode(
        std::string_view(reinterpret_cast<const char*>(pending_), static_cast<size_t>(pendingCount_)));
    out += tail;
    column_ += 4;
    pendingCount_ = 0;
  }
  if (column_ > 0) out += "\r\n";
  column_ = 0;
}

// ---- quoted-printable -------------------------------------------------------------------------

std::string QPDecodeLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string QPEncodeLine(std::string_view line) {
  std::string out;
  out.reserve(line.size() + line.size() / 4);
  size_t column = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    auto c = static_cast<unsigned char>(line[i]);
    bool last = i + 1 == line.size();
    bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
    size_t width = literal ? 1 : 3;
    // Keep every encoded line within 76 characters, counting the "=" of the soft break.
    size_t limit = last ? 76 : 75;
    if (column + width > limit) {
      out += "=\r\n";
      column = 0;
    }
    if (literal)
      out += static_cast<char>(c);
    else
      AppendPercent(out, c, '=');
    column += width;
  }
  return out;
}

void QPDecoder::Reset() {
  pending_.clear();
  pendingCR_ = false;
}

// Writes held-back input literally (the end of the body came before the escape was complete).
void QPDecoder::Flush(std::string& out) {
  out += pending_;
  pending_.clear();
  if (pendingCR_) out += '\r';
  pendingCR_ = false;
}

// Resolves one character while an escape or line end from an earlier position is undecided.
// Returns false when `c` was not consumed (it is then read again as ordinary input).
bool QPDecoder::Pending(char c, std::string& out) {
  if (pendingCR_) {
    pendingCR_ = false;
    if (c == '\n') {
      out += lineBreak_;
      return true;
    }
    out += '\r';
    return false;
  }
  // pending_ begins with "=".
  if (pending_.size() == 1 && HexValue(c) >= 0) {
    pending_ += c;
    return true;
  }
  if (pending_.size() == 2 && HexValue(pending_[1]) >= 0) {
    if (HexValue(c) >= 0) {
      out += static_cast<char>(HexValue(pending_[1]) * 16 + HexValue(c));
      pending_.clear();
      return true;
    }
    Flush(out);  // "=" and one hex digit: kept as written
    return false;
  }
  if (pending_.back() == '\r') {
    // "=" [blanks] CR: a soft break, whether or not LF follows.
    pending_.clear();
    return c == '\n';
  }
  if (c == ' ' || c == '\t') {
    // "=" followed by blanks: a soft break if the line ends after them.
    if (pending_.size() < 80) {
      pending_ += c;
      return true;
    }
    Flush(out);
    return false;
  }
  if (c == '\n') {
    pending_.clear();
    return true;
  }
  if (c == '\r') {
    pending_ += c;
    return true;
  }
  Flush(out);
  return false;
}

void QPDecoder::Feed(std::string_view chunk, std::string& out) {
  out.reserve(out.size() + chunk.size());
  size_t i = 0, n = chunk.size();
  while (i < n) {
    char c = chunk[i];
    if (!pending_.empty() || pendingCR_) {
      if (Pending(c, out)) ++i;
      continue;
    }
    if (c == '=') {
      if (i + 2 < n) {
        int hi = HexValue(chunk[i + 1]), lo = HexValue(chunk[i + 2]);
        if (hi >= 0 && lo >= 0) {
          out += static_cast<char>(hi * 16 + lo);
          i += 3;
          continue;
        }
        if (chunk[i + 1] == '\r' && chunk[i + 2] == '\n') {
          i += 3;
          continue;
        }
      }
      // Near the end of the chunk, or not a plain escape: decide character by character.
      pending_.push_back('=');
      ++i;
      continue;
    }
    if (c == '\r') {
      if (i + 1 < n) {
        if (chunk[i + 1] == '\n') {
          out += lineBreak_;
          i += 2;
        } else {
          out += c;
          ++i;
        }
        continue;
      }
      pendingCR_ = true;
      ++i;
      continue;
    }
    if (c == '\n') {
      out += lineBreak_;
      ++i;
      continue;
    }
    // Plain run up to the next special character.
    size_t j = i + 1;
    while (j < n && !kQPSpecial.v[static_cast<unsigned char>(chunk[j])]) ++j;
    out.append(chunk.data() + i, j - i);
    i = j;
  }
}

void QPDecoder::Finish(std::string& out) {
  if (!pending_.empty() && pending_.find_first_not_of("= \t\r") == std::string::npos) {
    // "=" (and blanks) at the very end: a soft break with nothing after it.
    pending_.clear();
  }
  Flush(out);
}

// ---- uuencode ---------------------------------------------------------------------------------

std::string UUDecodeLine(std::string_view line) {
  std::string out;
  if (line.empty()) return out;
  auto first = static_cast<unsigned char>(line[0]);
  if (first < 32 || first > 96) return out;
  int count = (first - 32) & 63;  // "`" is a zero count
  if (count == 0) return out;
  // Six-bit values of the data characters. Older encoders write zero as a blank, newer ones as
  // "`": both count, or every group after a blank would shift.
  unsigned char vals[4];
  int have = 0;
  size_t groups = static_cast<size_t>((count - 1) / 3 + 1);
  out.reserve(groups * 3);
  size_t i = 1;
  int remaining = count;
  for (size_t g = 0; g < groups; ++g) {
    have = 0;
    while (have < 4) {
      if (i < line.size()) {
        auto c = static_cast<unsigned char>(line[i++]);
        if (c < 32 || c > 96) continue;
        vals[have++] = c == '`' ? 0 : static_cast<unsigned char>(c - 32);
      } else {
        vals[have++] = 0;  // padded with blanks
      }
    }
    unsigned v = (vals[0] << 18) | (vals[1] << 12) | (vals[2] << 6) | vals[3];
    char buf[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    int take = remaining < 3 ? remaining : 3;
    out.append(buf, static_cast<size_t>(take));
    remaining -= take;
  }
  return out;
}

void UUDecoder::Reset() {
  state_ = State::BeforeBegin;
  partial_.clear();
}

void UUDecoder::Line(std::string_view line, std::string& out) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  switch (state_) {
    case State::BeforeBegin:
      if (line.size() >= 5) {
        auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
        if (lower(line[0]) == 'b' && lower(line[1]) == 'e' && lower(line[2]) == 'g' &&
            lower(line[3]) == 'i' && lower(line[4]) == 'n')
          state_ = State::Data;
      }
      break;
    case State::Data:
      if (line.empty()) break;
      if (line == " " || line == "`" || line == "end") {
        state_ = State::Done;
        break;
      }
      out += UUDecodeLine(line);
      break;
    case State::Done:
      break;
  }
}

void UUDecoder::Feed(std::string_view chunk, std::string& out) {
  size_t start = 0;
  while (start < chunk.size()) {
    size_t lf = chunk.find('\n', start);
    if (lf == std::string_view::npos) {
      // A line longer than any sane uuencoded line is not data; keep memory bounded.
      if (partial_.size() < 4096) partial_.append(chunk.substr(start, 4096 - partial_.size()));
      return;
    }
    if (partial_.empty()) {
      Line(chunk.substr(start, lf - start), out);
    } else {
      if (partial_.size() < 4096) partial_.append(chunk.substr(start, std::min<size_t>(lf - start, 4096)));
      Line(partial_, out);
      partial_.clear();
    }
    start = lf + 1;
  }
}

void UUDecoder::Finish(std::string& out) {
  if (!partial_.empty()) Line(partial_, out);
  partial_.clear();
}

}  // namespace px::mailformat
