#pragma once
// Splits messages into a private spool and reads the pairs back.
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "foundation/random.h"
#include "mailformat/mime_reader.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/spool.h"
#include "support/test_paths.h"
#include "support/test_support.h"

namespace px::mailformat::testing {

struct Part {
  std::string name;
  PartDescriptor d;
  std::string content;
  // A tagged line starting with prefix ("" when absent).
  std::string Tag(std::string_view prefix) const {
    for (const auto& t : d.tagged)
      if (t.starts_with(prefix)) return t;
    return {};
  }
  bool HasLine(std::string_view line) const {
    for (const auto& t : d.tagged)
      if (t == line) return true;
    return false;
  }
};

inline std::string Fixture(const std::string& name) {
  return px::test::readFile(std::string(PX_TEST_DATA) + "/mime/" + name);
}

// CR LF line ends for text written with "\n".
inline std::string Crlf(std::string_view s) {
  std::string r;
  for (char c : s) {
    if (c == '\n') r += '\r';
    r += c;
  }
  return r;
}

class SpoolFixture {
public:
  SpoolFixture() : random_(42), spool_(dir_.path().toStdString() + "/Inbox", random_) {
    spool_.setSync(false);
  }
  MailSpool& spool() { return spool_; }
  std::string folder() const { return spool_.folder(); }

  std::vector<Part> Split(const std::string& bytes, SplitOptions options = {}, SplitResult* out = nullptr) {
    SplitResult r = SplitMessageBytes(bytes, spool_, options);
    if (out) *out = r;
    return Load(r.parts);
  }

  std::vector<Part> Load(const std::vector<std::string>& names) {
    std::vector<Part> parts;
    for (const auto& n : names) {
      Part p;
      p.name = n;
      p.d = ParsePartDescriptor(px::test::readFile(spool_.PathOf(n, kDescriptorExt)));
      p.content = px::test::readFile(spool_.PathOf(n, kContentExt));
      parts.push_back(std::move(p));
    }
    return parts;
  }

  // Every file in the spool folder (hidden ones too), sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> r;
    for (const QString& f : QDir(QString::fromStdString(spool_.folder()))
                                .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs |
                                           QDir::NoDotAndDotDot, QDir::Name))
      r.push_back(f.toStdString());
    return r;
  }

private:
  QTemporaryDir dir_;
  RandomSource random_;
  MailSpool spool_;
};

}  // namespace px::mailformat::testing
