// Builds an Internet message whose HTML body is an arbitrary stored ".eml" file (the first
// input byte says whether an attachment follows). Whatever the body holds, the message must
// keep to SMTP's rules: CR LF line ends only and no line over 998 octets.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include <QTemporaryDir>

#include "foundation/random.h"
#include "transport/smtp/internet_message.h"

using namespace px::transport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir root;
  static px::RandomSource random(1);
  if (size == 0) return 0;
  const std::string body = root.path().toStdString() + "/body.eml";
  {
    std::ofstream f(body, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  InternetMessage m;
  m.from = "ann@example.org";
  m.to = "bob@example.net";
  m.subject = std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 200));
  m.parts.push_back({body, "body.eml", "eml", ""});
  if (data[0] & 1) m.parts.push_back({body, "copy.bin", "bin", ""});
  std::string out;
  if (!WriteInternetMessage(m, random, [&out](std::string_view b) {
         out.append(b);
         return true;
       }).ok())
    return 0;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find("\r\n", start);
    if (end == std::string::npos) std::abort();  // an unterminated last line
    std::string_view line(out.data() + start, end - start);
    if (line.size() > 998 || line.find('\n') != std::string_view::npos || line.find('\r') != std::string_view::npos)
      std::abort();
    start = end + 2;
  }
  return 0;
}
