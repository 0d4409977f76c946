// Splits arbitrary bytes into a private spool. It must end, write nothing outside the spool,
// leave no temporary file behind and pair every descriptor with its content file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <QDir>
#include <QTemporaryDir>

#include "foundation/random.h"
#include "mailformat/mime_reader.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/spool.h"
#include "mailformat/text_extract.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir root;
  static px::RandomSource random(1);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string folder = root.path().toStdString() + "/spool/";
  SplitOptions options;
  options.trust = size > 0 ? SourceTrust(data[0] % 3) : SourceTrust::Network;
  options.ownAddress = "me@example.com";
  options.maxParts = 200;
  {
    MailSpool spool(folder, random);
    spool.setSync(false);
    SplitResult r = SplitMessageBytes(bytes, spool, options);
    if (!r.ok()) std::abort();
    auto d = spool.List(kDescriptorExt), c = spool.List(kContentExt);
    if (d != c || d.size() != r.parts.size() || d.empty()) std::abort();
    for (const auto& name : r.parts) {
      QFile f(QString::fromStdString(spool.PathOf(name, kDescriptorExt)));
      if (!f.open(QIODevice::ReadOnly)) std::abort();
      QByteArray raw = f.readAll();
      PartDescriptor pd = ParsePartDescriptor(std::string_view(raw.constData(), size_t(raw.size())));
      if (IsMarkerKind(pd.kind) || pd.kind.find_first_of("/\\") != std::string::npos ||
          pd.name == "." || pd.name == ".." || pd.tagged.size() > 16)
        std::abort();
      auto tags = ReadDescriptorTags(pd);
      if (tags.hasFolder && (tags.folder.find("..") != std::string::npos || tags.folder.starts_with("/") ||
                             tags.folder.starts_with("\\")))
        std::abort();
    }
  }
  // Only the spool folder exists, and it holds only pairs.
  QDir top(root.path());
  if (top.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size() != 1)
    std::abort();
  QDir spoolDir(QString::fromStdString(folder));
  for (const QString& n : spoolDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    if (!(n.endsWith(".$$1") || n.endsWith(".$$2")) || n.startsWith(".")) std::abort();
    spoolDir.remove(n);
  }
  EmlText t = ExtractEmlTextFromBytes(bytes);
  (void)t;
  return 0;
}
