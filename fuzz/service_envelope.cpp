// A download from the mail service from arbitrary bytes, unpacked in a private spool: it is
// unpacked or refused, and nothing is written outside the spool or under a name it does not own.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "foundation/random.h"
#include "incoming/service_envelope.h"
#include "mailformat/spool.h"

using namespace px;

namespace {

const std::string& SpoolDir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/px-fuzz-envelope-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    if (!d) std::abort();
    return std::string(d) + "/";
  }();
  // The spool goes when the program ends.
  static struct Cleanup {
    ~Cleanup() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  } cleanup;
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  incoming::EnvelopeInfo info;
  incoming::ParseEnvelope(bytes, info);
  if (mailformat::IsMarkerKind(info.descriptor.kind) && info.descriptor.kind != mailformat::kReceiptKind)
    std::abort();

  const std::string& dir = SpoolDir();
  std::filesystem::remove_all(dir);
  static RandomSource random(1);
  mailformat::MailSpool spool(dir, random);
  spool.setSync(false);
  const std::string name = "20260101000000000123";
  if (!spool.WriteFile(name, mailformat::kContainerExt, bytes)) std::abort();
  incoming::UnpackResult r = incoming::UnpackContainer(spool, name);
  // Only the download's own names may exist afterwards.
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string f = e.path().filename().string();
    const bool ours = f == name + ".$$7" || f == name + ".$$1" || f == name + ".$$2" || f == name + ".$$3" ||
                      f == name + "-n.msg_";
    if (!ours) std::abort();
  }
  if (r.status == incoming::UnpackStatus::Ok && !r.rawMessage && !spool.Exists(name, mailformat::kDescriptorExt))
    std::abort();
  if (r.status != incoming::UnpackStatus::Ok && spool.Exists(name, mailformat::kDescriptorExt)) std::abort();
  return 0;
}
