// Splits arbitrary bytes into a private spool. It must end, write nothing outside the spool,
// leave no temporary file behind and pair every descriptor with its content file. The input's
// second byte picks a read size: split in chunks of that size, the message must give exactly
// what the whole buffer gives.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <QDir>
#include <QTemporaryDir>

#include "foundation/random.h"
#include "mailformat/line_reader.h"
#include "mailformat/mime_reader.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/spool.h"
#include "mailformat/text_extract.h"

using namespace px::mailformat;

namespace {

class MemorySink : public PartSink {
public:
  bool Begin() override {
    content_.clear();
    return true;
  }
  bool Write(std::string_view bytes) override {
    content_.append(bytes);
    return true;
  }
  bool End(PartDescriptor d) override {
    parts.push_back(FormatPartDescriptor(d) + "\n----\n" + content_);
    return true;
  }
  void Abort() override { content_.clear(); }
  std::vector<std::string> parts;

private:
  std::string content_;
};

std::vector<std::string> SplitInChunks(std::string_view bytes, size_t chunk, const SplitOptions& options,
                                       bool textOnly) {
  LineReader in(chunk == 0 ? LineReader::kDefaultBuffer : chunk);
  if (chunk == 0)
    in.OpenMemory(bytes);
  else
    in.OpenMemoryInChunks(bytes, chunk);
  MemorySink sink;
  SplitMessage(in, sink, options, textOnly);
  return sink.parts;
}

}  // namespace

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

  const size_t chunk = size > 1 ? 1 + data[1] % 64 : 1;
  for (bool textOnly : {false, true})
    if (SplitInChunks(bytes, chunk, options, textOnly) != SplitInChunks(bytes, 0, options, textOnly))
      std::abort();
  return 0;
}
