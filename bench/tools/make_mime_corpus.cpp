// Writes a corpus of raw mail messages for the splitting benchmark: plain text,
// multipart/alternative, nested message/rfc822, base64 attachments up to 20 MB and encoded-word
// headers. The same seed always gives the same corpus.
//   make_mime_corpus OUTDIR [TOTAL_MB=200] [SEED=1]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace {

std::mt19937_64 rng;

uint64_t Below(uint64_t n) { return n ? rng() % n : 0; }

const char* const kWords[] = {"meeting", "report", "tomorrow", "budget", "project", "the", "and",
                              "please", "attached", "review", "schedule", "thanks", "regards",
                              "update", "status", "customer", "quarter", "numbers", "draft", "final"};

std::string Words(size_t bytes) {
  std::string s;
  size_t col = 0;
  while (s.size() < bytes) {
    const char* w = kWords[Below(sizeof kWords / sizeof *kWords)];
    s += w;
    col += std::char_traits<char>::length(w) + 1;
    if (col > 70) {
      s += "\r\n";
      col = 0;
    } else {
      s += ' ';
    }
  }
  return s + "\r\n";
}

std::string Base64(size_t n) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(n * 4 / 3 + n / 38 + 8);
  size_t col = 0;
  for (size_t i = 0; i < n; i += 3) {
    uint64_t r = rng();
    size_t take = n - i < 3 ? n - i : 3;
    uint32_t v = uint32_t(r & 0xFFFFFF);
    out += a[(v >> 18) & 63];
    out += a[(v >> 12) & 63];
    out += take > 1 ? a[(v >> 6) & 63] : '=';
    out += take > 2 ? a[v & 63] : '=';
    col += 4;
    if (col == 76) {
      out += "\r\n";
      col = 0;
    }
  }
  if (col) out += "\r\n";
  return out;
}

std::string Headers(int n, bool encoded) {
  std::string h = "From: \"Sender " + std::to_string(n) + "\" <sender" + std::to_string(n) + "@example.com>\r\n";
  h += "To: recipient@example.org, \"Other\" <other@example.net>\r\n";
  if (encoded)
    h += "Subject: =?iso-8859-1?Q?R=E9sum=E9_du_projet?= =?utf-8?B?w6l0w6kgMjAyNQ==?= " + std::to_string(n) + "\r\n";
  else
    h += "Subject: Message number " + std::to_string(n) + "\r\n";
  h += "Date: Tue, 4 Mar 2025 10:" + std::to_string(10 + n % 50) + ":00 +0100\r\n";
  h += "Received: from mx.example.com by mail.example.org; Tue, 4 Mar 2025 10:15:00 +0100\r\n";
  h += "Message-ID: <" + std::to_string(n) + "@example.com>\r\nMIME-Version: 1.0\r\n";
  return h;
}

std::string Attachment(const std::string& boundary, size_t size, int i) {
  std::string name = "file" + std::to_string(i) + ".bin";
  return "--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
         "\"\r\nContent-Disposition: attachment; filename=\"" + name +
         "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(size);
}

std::string Alternative(const std::string& b) {
  std::string text = Words(500 + Below(8000));
  return "Content-Type: multipart/alternative; boundary=\"" + b + "\"\r\n\r\n--" + b +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
         text + "--" + b + "\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body><p>" + text +
         "</p></body></html>\r\n--" + b + "--\r\n";
}

size_t AttachmentSize() {
  uint64_t r = Below(1000);
  if (r < 8) return 5000000 + Below(15000001);  // the big ones, up to 20 MB
  if (r < 300) return 10000 + Below(500000);
  return 0;
}

std::string Message(int n) {
  bool encoded = Below(3) == 0;
  std::string m = Headers(n, encoded);
  switch (Below(4)) {
    case 0:  // plain
      m += "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + Words(1000 + Below(30000));
      break;
    case 1:  // alternative
      m += Alternative("alt" + std::to_string(n));
      break;
    case 2: {  // mixed with attachments
      std::string b = "mix" + std::to_string(n);
      m += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + b +
           "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + Words(500 + Below(5000));
      int count = 1 + int(Below(3));
      for (int i = 0; i < count; ++i) {
        size_t size = AttachmentSize();
        if (size == 0) size = 2000 + Below(60000);
        m += Attachment(b, size, i);
      }
      m += "--" + b + "--\r\n";
      break;
    }
    default: {  // a forwarded message inside a mixed one
      std::string b = "fwd" + std::to_string(n), ib = "inner" + std::to_string(n);
      m += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n--" + b +
           "\r\nContent-Type: text/plain\r\n\r\n" + Words(300) + "--" + b +
           "\r\nContent-Type: message/rfc822\r\n\r\n" + Headers(n + 1000000, encoded) +
           "Content-Type: multipart/mixed; boundary=\"" + ib + "\"\r\n\r\n--" + ib + "\r\n" +
           Alternative("ialt" + std::to_string(n));
      size_t size = AttachmentSize();
      if (size) m += Attachment(ib, size, 0);
      m += "--" + ib + "--\r\n\r\n--" + b + "--\r\n";
      break;
    }
  }
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_mime_corpus OUTDIR [TOTAL_MB=200] [SEED=1]\n");
    return 2;
  }
  std::filesystem::path dir(argv[1]);
  uint64_t totalMb = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 200;
  rng.seed(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  std::filesystem::create_directories(dir);
  uint64_t total = 0, largest = 0;
  int n = 0;
  while (total < totalMb * 1000000) {
    std::string m = Message(n);
    char name[32];
    std::snprintf(name, sizeof name, "m%06d.msg_", n);
    FILE* f = std::fopen((dir / name).c_str(), "wb");
    if (!f || std::fwrite(m.data(), 1, m.size(), f) != m.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "make_mime_corpus: cannot write %s\n", (dir / name).c_str());
      return 1;
    }
    total += m.size();
    if (m.size() > largest) largest = m.size();
    ++n;
  }
  std::printf("%d messages, %llu bytes, largest %llu bytes\n", n, (unsigned long long)total,
              (unsigned long long)largest);
  return 0;
}
