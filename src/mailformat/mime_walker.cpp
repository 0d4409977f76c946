#include "mailformat/mime_walker.h"

#include "mailformat/mime_header.h"

namespace px::mailformat {

bool MimeWalker::Next(LinePiece& p) {
  if (pending_) {
    pending_ = false;
    p.text = pendingOwned_ ? std::string_view(rest_) : pendingView_;
    p.first = false;
    p.last = pendingLast_;
    p.ended = pendingEnded_;
    return true;
  }
  if (!in_.Next(p)) return false;
  if (!p.first) return true;  // the rest of a long line
  if (p.last) {
    if (p.text.size() <= kWholeLine) return true;
    pendingView_ = p.text.substr(kWholeLine);
    pendingOwned_ = false;
    pendingLast_ = true;
    pendingEnded_ = p.ended;
    pending_ = true;
    p.text = p.text.substr(0, kWholeLine);
    p.last = false;
    p.ended = false;
    return true;
  }
  // A line that came in pieces: join it until it ends or is known to be long.
  join_.assign(p.text);
  bool lineEnded = false, ended = false;
  LinePiece q;
  while (join_.size() <= kWholeLine) {
    if (!in_.Next(q)) {
      lineEnded = true;
      break;
    }
    join_.append(q.text);
    if (q.last) {
      lineEnded = true;
      ended = q.ended;
      break;
    }
  }
  p.first = true;
  if (join_.size() <= kWholeLine) {
    p.text = join_;
    p.last = true;
    p.ended = ended;
    return true;
  }
  rest_.assign(join_, kWholeLine);
  join_.resize(kWholeLine);
  pendingOwned_ = true;
  pendingLast_ = lineEnded;
  pendingEnded_ = ended;
  pending_ = true;
  p.text = join_;
  p.last = false;
  p.ended = false;
  return true;
}

size_t MimeWalker::Open(const std::string& boundaryLine) {
  bounds_.push_back(boundaryLine);
  return bounds_.size() - 1;
}

void MimeWalker::Close() {
  if (!bounds_.empty()) bounds_.pop_back();
}

MimeStop MimeWalker::Classify(const LinePiece& p) const {
  if (ignore_ || !p.first || !p.last || bounds_.empty()) return {};
  std::string_view t = p.text;
  if (t.size() < 2 || t[0] != '-' || t[1] != '-') return {};
  for (size_t i = bounds_.size(); i-- > 0;) {
    const std::string& b = bounds_[i];
    if (!t.starts_with(b)) continue;
    std::string_view rest = t.substr(b.size());
    if (rest.starts_with("--")) return {MimeStop::Close, i};
    if (TrimRightView(rest).empty()) return {MimeStop::Delim, i};
    // Another boundary that begins with this one: body, unless an outer boundary matches.
  }
  return {};
}

MimeStop MimeWalker::ReadHeaderBlock(HeaderSink& sink, size_t maxHeader) {
  std::string cur;
  bool have = false;
  MimeStop result{MimeStop::Eof, 0};
  LinePiece p;
  while (Next(p)) {
    if (!p.first) {
      if (have && cur.size() < maxHeader) cur.append(p.text.substr(0, maxHeader - cur.size()));
      sink.Line(p.text, HeaderSink::LineKind::Rest);
      continue;
    }
    MimeStop s = Classify(p);
    if (s.kind != MimeStop::None) {
      result = s;
      break;
    }
    if (p.text.empty() && p.last) {
      result = {};
      break;
    }
    if (have && (p.text[0] == ' ' || p.text[0] == '\t')) {
      if (cur.size() < maxHeader) {
        cur += ' ';
        cur.append(p.text.substr(0, maxHeader - cur.size()));
      }
      sink.Line(p.text, HeaderSink::LineKind::Folded);
      continue;
    }
    if (have) sink.Header(cur);
    cur.assign(p.text.substr(0, maxHeader));
    have = true;
    sink.Line(p.text, HeaderSink::LineKind::NewHeader);
  }
  if (have) sink.Header(cur);
  return result;
}

MimeStop MimeWalker::ReadBody(BodySink& sink) {
  LinePiece p;
  bool any = false, breakPending = false;
  while (Next(p)) {
    if (p.first) {
      MimeStop c = Classify(p);
      if (c.kind != MimeStop::None) return c;  // the pending break is the boundary's
      if (breakPending && !sink.Break()) return {MimeStop::Eof, 0};
      breakPending = false;
    }
    if (!sink.Text(p.text, p.first)) return {MimeStop::Eof, 0};
    any = true;
    if (p.last) breakPending = p.ended;
  }
  if (any && breakPending) sink.Break();
  return {MimeStop::Eof, 0};
}

MimeStop MimeWalker::Skip() {
  LinePiece p;
  while (Next(p)) {
    if (!p.first) continue;
    MimeStop c = Classify(p);
    if (c.kind != MimeStop::None) return c;
  }
  return {MimeStop::Eof, 0};
}

// ---- bodies ------------------------------------------------------------------------------------

TransferEncoding TransferEncodingOf(std::string_view name) {
  std::string enc(TrimView(name));
  for (char& c : enc)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  if (enc == "base64") return TransferEncoding::Base64;
  if (enc == "quoted-printable") return TransferEncoding::QuotedPrintable;
  if (enc == "uue" || enc == "uuencode" || enc == "x-uue" || enc == "x-uuencode")
    return TransferEncoding::UUEncode;
  return TransferEncoding::Identity;
}

BodyDecoder::BodyDecoder(TransferEncoding encoding, Out out, size_t block)
    : encoding_(encoding), out_(std::move(out)), block_(block) {
  buf_.reserve(block_ + 4096);
}

bool BodyDecoder::Spill() {
  if (buf_.size() < block_) return ok_;
  if (ok_ && !out_(buf_)) ok_ = false;
  buf_.clear();
  return ok_;
}

bool BodyDecoder::Text(std::string_view text, bool) {
  switch (encoding_) {
    case TransferEncoding::Base64: b64_.Feed(text, buf_); break;
    case TransferEncoding::UUEncode: uu_.Feed(text, buf_); break;
    case TransferEncoding::QuotedPrintable: qp_.Feed(text, buf_); break;
    case TransferEncoding::Identity: buf_.append(text); break;
  }
  return Spill();
}

bool BodyDecoder::Break() {
  switch (encoding_) {
    case TransferEncoding::Base64: break;
    case TransferEncoding::UUEncode: uu_.Feed("\n", buf_); break;
    case TransferEncoding::QuotedPrintable: qp_.Feed("\n", buf_); break;
    case TransferEncoding::Identity: buf_ += "\r\n"; break;
  }
  return Spill();
}

bool BodyDecoder::Raw(std::string_view bytes) {
  buf_.append(bytes);
  return Spill();
}

bool BodyDecoder::Finish() {
  switch (encoding_) {
    case TransferEncoding::Base64: b64_.Finish(buf_); break;
    case TransferEncoding::UUEncode: uu_.Finish(buf_); break;
    case TransferEncoding::QuotedPrintable: qp_.Finish(buf_); break;
    case TransferEncoding::Identity: break;
  }
  if (ok_ && !buf_.empty() && !out_(buf_)) ok_ = false;
  buf_.clear();
  return ok_;
}

}  // namespace px::mailformat
