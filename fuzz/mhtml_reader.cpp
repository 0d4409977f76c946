// Reads arbitrary bytes as an MHTML document. It must end and write only inside its own
// resource folder. The input's second byte picks the read size.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <QDir>
#include <QTemporaryDir>

#include "foundation/random.h"
#include "mailformat/line_reader.h"
#include "mailformat/mhtml_reader.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir root;
  static px::RandomSource random(1);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string temp = root.path().toStdString() + "/";
  MhtmlLimits limits;
  limits.maxResources = 50;
  MhtmlDocument doc;
  const size_t chunk = size > 1 ? 1 + data[1] % 64 : 1;
  LineReader in(chunk);
  in.OpenMemoryInChunks(bytes, chunk);
  if (ReadMhtmlStream(in, temp, random, doc, limits)) {
    for (const auto& [key, path] : doc.references) {
      if (!path.starts_with(doc.resourceFolder)) std::abort();
      std::string name = path.substr(doc.resourceFolder.size());
      if (name.empty() || name.find('/') != std::string::npos || name == "." || name == ".." ||
          name[0] == '.')
        std::abort();
    }
  }
  QDir top(root.path());
  auto entries = top.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  if (entries.size() > 1) std::abort();
  for (const QString& e : entries) {
    if (!e.startsWith("PX")) std::abort();
    QDir(root.path() + "/" + e).removeRecursively();
  }
  return 0;
}
