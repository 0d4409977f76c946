// Writes a burst of raw messages as they arrive from a mail server, for the filing benchmark:
// plain letters, text with HTML, messages with a few attachments (many named image001.jpg, as
// mail programs name pasted pictures) and a few large ones. The same seed gives the same burst.
//   make_mail_burst OUTDIR [COUNT=10000] [SEED=1]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

std::mt19937_64 rng;

uint64_t Below(uint64_t n) { return n ? rng() % n : 0; }

const char* const kWords[] = {"meeting", "report", "tomorrow", "budget", "project", "the", "and",
                              "please", "attached", "review", "schedule", "thanks", "regards",
                              "update", "status", "customer", "quarter", "numbers", "draft", "final"};
const char* const kPeople[] = {"\"Ann Example\" <ann@example.org>", "bob@example.com",
                               "\"Carl M\xc3\xbcller\" <carl@example.de>", "=?iso-8859-1?q?J=FCrgen?= <j@example.de>",
                               "news@lists.example.net", "\"Dana\" <dana@example.co.uk>"};

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

std::string Base64Lines(size_t rawBytes) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  size_t chars = (rawBytes + 2) / 3 * 4;
  s.reserve(chars + chars / 76 * 2 + 2);
  for (size_t i = 0; i < chars; ++i) {
    s += a[Below(64)];
    if (i % 76 == 75) s += "\r\n";
  }
  return s + "\r\n";
}

std::string Headers(int n, const std::string& subject) {
  std::string h = "Return-Path: <sender@example.org>\r\n";
  h += "Received: from mx.example.org by mail.example.net; Tue, 9 Dec 2025 10:" + std::to_string(10 + n % 50) +
       ":00 +0100\r\n";
  h += "From: " + std::string(kPeople[Below(sizeof kPeople / sizeof *kPeople)]) + "\r\n";
  h += "To: \"Me\" <me@example.net>\r\n";
  if (Below(4) == 0) h += "Cc: team@example.net, boss@example.net\r\n";
  h += "Subject: " + subject + "\r\n";
  h += "Date: Tue, 9 Dec 2025 10:" + std::to_string(10 + n % 50) + ":00 +0100\r\n";
  h += "Message-ID: <" + std::to_string(n) + "." + std::to_string(Below(1000000)) + "@example.org>\r\n";
  h += "MIME-Version: 1.0\r\n";
  return h;
}

std::string Message(int n) {
  const std::string subject = std::string(kWords[Below(20)]) + " " + kWords[Below(20)] + " " + std::to_string(Below(50));
  std::string m = Headers(n, subject);
  const uint64_t kind = Below(100);
  if (kind < 60) {
    m += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
    m += Words(800 + Below(12000));
  } else if (kind < 75) {
    std::string text = Words(1000 + Below(8000));
    m += "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
         "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + text +
         "--alt\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<HTML><BODY><P>" + text +
         "</P></BODY></HTML>\r\n--alt--\r\n";
  } else {
    const bool large = kind >= 98;
    m += "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n\r\n" + Words(500 + Below(4000));
    const int count = large ? 1 : 1 + static_cast<int>(Below(3));
    for (int i = 0; i < count; ++i) {
      const size_t size = large ? 400000 + Below(1200000) : 3000 + Below(60000);
      const std::string name = Below(2) == 0 ? "image001.jpg" : "document" + std::to_string(Below(9)) + ".pdf";
      m += "--mix\r\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" + name +
           "\"\r\n\r\n" + Base64Lines(size);
    }
    m += "--mix--\r\n";
  }
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_mail_burst OUTDIR [COUNT=10000] [SEED=1]\n");
    return 2;
  }
  std::filesystem::path dir(argv[1]);
  const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
  rng.seed(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  std::filesystem::create_directories(dir);
  for (int n = 0; n < count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "%08d.msg_", n);
    std::ofstream f(dir / name, std::ios::binary);
    const std::string m = Message(n);
    f.write(m.data(), static_cast<std::streamsize>(m.size()));
  }
  return 0;
}
