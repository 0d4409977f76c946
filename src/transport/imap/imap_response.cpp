#include "transport/imap/imap_response.h"

#include <algorithm>
#include <charconv>

#include "foundation/text_case.h"

namespace px::transport::imap {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool ParseUnsigned(std::string_view s, int64_t& out) {
  if (s.empty() || s.size() > 18) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && out >= 0;
}

class Parser {
public:
  explicit Parser(std::string_view s) : s_(s) {}

  bool AtEnd() const { return p_ >= s_.size() || s_[p_] == '\r' || s_[p_] == '\n'; }
  bool Peek(char c) const { return p_ < s_.size() && s_[p_] == c; }
  void SkipSpaces() {
    while (p_ < s_.size() && s_[p_] == ' ') ++p_;
  }
  // A word up to the next blank (or line end).
  std::string_view Word() {
    size_t b = p_;
    while (p_ < s_.size() && s_[p_] != ' ' && s_[p_] != '\r' && s_[p_] != '\n') ++p_;
    return s_.substr(b, p_ - b);
  }
  // The rest of the line.
  std::string_view Rest() {
    size_t b = p_;
    while (p_ < s_.size() && s_[p_] != '\r' && s_[p_] != '\n') ++p_;
    return s_.substr(b, p_ - b);
  }

  // "[CODE arg]" at the current position, when there is one.
  bool Code(std::string& code, std::string& arg) {
    if (!Peek('[')) return true;
    size_t close = s_.find(']', p_);
    size_t eol = s_.find_first_of("\r\n", p_);
    if (close == std::string_view::npos || (eol != std::string_view::npos && close > eol)) {
      error_ = "a response code without its closing bracket";
      return false;
    }
    std::string_view inner = s_.substr(p_ + 1, close - p_ - 1);
    size_t sp = inner.find(' ');
    code = AsciiUpper(inner.substr(0, sp));
    arg = sp == std::string_view::npos ? std::string() : std::string(inner.substr(sp + 1));
    p_ = close + 1;
    SkipSpaces();
    return true;
  }

  bool Values(std::vector<Value>& out, int depth, bool inList) {
    if (depth > kMaxDepth) {
      error_ = "lists nested too deeply";
      return false;
    }
    for (;;) {
      SkipSpaces();
      if (p_ >= s_.size()) {
        if (inList) {
          error_ = "a list without its closing parenthesis";
          return false;
        }
        return true;
      }
      char c = s_[p_];
      if (c == '\r' || c == '\n') {
        if (inList) {
          error_ = "a list without its closing parenthesis";
          return false;
        }
        return true;
      }
      if (c == ')') {
        if (!inList) {
          error_ = "a closing parenthesis without its list";
          return false;
        }
        ++p_;
        return true;
      }
      if (++items_ > kMaxItems) {
        error_ = "too many items in one response";
        return false;
      }
      Value v;
      if (c == '(') {
        ++p_;
        v.type = Value::Type::List;
        if (!Values(v.list, depth + 1, true)) return false;
      } else if (c == '"') {
        v.type = Value::Type::String;
        if (!Quoted(v.text)) return false;
      } else if (c == '{' || (c == '~' && p_ + 1 < s_.size() && s_[p_ + 1] == '{')) {
        v.type = Value::Type::String;
        if (!Literal(v.text)) return false;
      } else {
        if (!Atom(v.text)) return false;
        if (EqualNoCase(v.text, "NIL")) {
          v.type = Value::Type::Nil;
          v.text.clear();
        }
      }
      out.push_back(std::move(v));
    }
  }

  const std::string& error() const { return error_; }
  size_t pos() const { return p_; }

private:
  bool Quoted(std::string& out) {
    ++p_;
    while (p_ < s_.size()) {
      char c = s_[p_++];
      if (c == '"') return true;
      if (c == '\r' || c == '\n') break;
      if (c == '\\') {
        if (p_ >= s_.size()) break;
        c = s_[p_++];
      }
      out += c;
    }
    error_ = "a quoted string without its closing quote";
    return false;
  }

  bool Literal(std::string& out) {
    if (s_[p_] == '~') ++p_;
    size_t close = s_.find('}', p_);
    if (close == std::string_view::npos) {
      error_ = "a literal without its size";
      return false;
    }
    std::string_view digits = s_.substr(p_ + 1, close - p_ - 1);
    if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
    int64_t n = 0;
    if (!ParseUnsigned(digits, n)) {
      error_ = "a literal of no size";
      return false;
    }
    p_ = close + 1;
    if (p_ < s_.size() && s_[p_] == '\r') ++p_;
    if (p_ >= s_.size() || s_[p_] != '\n') {
      error_ = "a literal size not at the end of its line";
      return false;
    }
    ++p_;
    if (static_cast<uint64_t>(n) > s_.size() - p_) {
      error_ = "a literal longer than the response";
      return false;
    }
    out.assign(s_.substr(p_, static_cast<size_t>(n)));
    p_ += static_cast<size_t>(n);
    return true;
  }

  // Atoms, with the bracketed section of a FETCH item ("BODY[HEADER.FIELDS (A B)]<0>") kept
  // whole, blanks and all.
  bool Atom(std::string& out) {
    size_t b = p_;
    while (p_ < s_.size()) {
      char c = s_[p_];
      if (c == '[') {
        size_t close = s_.find(']', p_);
        size_t eol = s_.find_first_of("\r\n", p_);
        if (close == std::string_view::npos || (eol != std::string_view::npos && close > eol)) {
          error_ = "a section without its closing bracket";
          return false;
        }
        p_ = close + 1;
        continue;
      }
      if (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{' || c == '\r' || c == '\n' ||
          static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
        break;
      ++p_;
    }
    if (p_ == b) {
      error_ = "an unexpected character";
      return false;
    }
    out.assign(s_.substr(b, p_ - b));
    return true;
  }

  std::string_view s_;
  size_t p_ = 0;
  size_t items_ = 0;
  std::string error_;
};

}  // namespace

bool Value::IsAtom(std::string_view name) const { return type == Type::Atom && EqualNoCase(text, name); }

bool Response::IsStatus() const {
  return name == "OK" || name == "NO" || name == "BAD" || name == "BYE" || name == "PREAUTH";
}

std::optional<Response> ParseResponse(std::string_view bytes, std::string* error) {
  auto fail = [&](std::string text) -> std::optional<Response> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  Response r;
  Parser p(bytes);
  std::string_view tag = p.Word();
  if (tag.empty()) return fail("an empty response");
  p.SkipSpaces();
  if (tag == "+") {
    r.kind = Response::Kind::Continuation;
    r.text = std::string(p.Rest());
    return r;
  }
  std::string_view word = p.Word();
  p.SkipSpaces();
  if (tag == "*") {
    r.kind = Response::Kind::Untagged;
    int64_t n = 0;
    if (ParseUnsigned(word, n)) {
      r.number = n;
      word = p.Word();
      p.SkipSpaces();
    }
  } else {
    r.kind = Response::Kind::Tagged;
    r.tag = std::string(tag);
  }
  if (word.empty()) return fail("a response without a name");
  r.name = AsciiUpper(word);
  if (r.IsStatus()) {
    if (!p.Code(r.code, r.codeArg)) return fail(p.error());
    r.text = std::string(p.Rest());
  } else if (r.kind == Response::Kind::Tagged) {
    return fail("a tagged response that is no status: " + r.name);
  } else if (!p.Values(r.values, 0, false)) {
    return fail(p.error());
  }
  return r;
}

int64_t TrailingLiteral(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.empty() || line.back() != '}') return -1;
  size_t open = line.rfind('{');
  if (open == std::string_view::npos) return -1;
  std::string_view digits = line.substr(open + 1, line.size() - open - 2);
  if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
  int64_t n = 0;
  return ParseUnsigned(digits, n) ? n : -1;
}

const Value* FetchItem(const Value& list, std::string_view name) {
  if (list.type != Value::Type::List) return nullptr;
  for (size_t i = 0; i + 1 < list.list.size(); i += 2)
    if (list.list[i].type == Value::Type::Atom && EqualNoCase(list.list[i].text, name)) return &list.list[i + 1];
  return nullptr;
}

std::optional<int64_t> NumberOf(const Value& v) {
  int64_t n = 0;
  if (v.type != Value::Type::Atom || !ParseUnsigned(v.text, n)) return std::nullopt;
  return n;
}

std::optional<std::string> QuoteArgument(std::string_view s) {
  std::string r = "\"";
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u == 0 || u == '\r' || u == '\n' || u >= 0x80) return std::nullopt;
    if (c == '"' || c == '\\') r += '\\';
    r += c;
  }
  r += '"';
  return r;
}

std::string SequenceSet(const std::vector<uint32_t>& uids, size_t from, size_t count) {
  std::string r;
  size_t end = count == SIZE_MAX ? uids.size() : std::min(uids.size(), from + count);
  for (size_t i = from; i < end;) {
    size_t j = i;
    while (j + 1 < end && uids[j + 1] == uids[j] + 1) ++j;
    if (!r.empty()) r += ',';
    r += std::to_string(uids[i]);
    if (j > i) r += ':' + std::to_string(uids[j]);
    i = j + 1;
  }
  return r;
}

std::string EncodeMailboxName(std::string_view utf8) {
  static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  std::string r;
  std::u16string pending;
  auto flush = [&] {
    if (pending.empty()) return;
    r += '&';
    uint32_t bits = 0;
    int nbits = 0;
    for (char16_t u : pending) {
      bits = (bits << 16) | u;
      nbits += 16;
      while (nbits >= 6) {
        nbits -= 6;
        r += kB64[(bits >> nbits) & 0x3f];
      }
    }
    if (nbits > 0) r += kB64[(bits << (6 - nbits)) & 0x3f];
    r += '-';
    pending.clear();
  };
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x20 && c < 0x7f) {
      flush();
      r += c == '&' ? std::string("&-") : std::string(1, static_cast<char>(c));
      ++i;
      continue;
    }
    // One UTF-8 sequence (an invalid byte stands for itself as U+FFFD).
    uint32_t cp = 0xfffd;
    int len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    if (len > 1 && i + len <= utf8.size()) {
      cp = c & (0xff >> (len + 1));
      for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
    } else {
      len = 1;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      pending += static_cast<char16_t>(0xd800 + (cp >> 10));
      pending += static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
    } else {
      pending += static_cast<char16_t>(cp);
    }
  }
  flush();
  return r;
}

}  // namespace px::transport::imap
