// plumadex-cli split: runs the MIME splitter on one raw message file into a spool folder.
#include "app/cli_commands.h"

#include <cstdio>

#include "foundation/random.h"
#include "mailformat/mime_reader.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/spool.h"

namespace px::cli {

namespace {
std::string ReadSmallFile(const std::string& path) {
  std::string r;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) r.append(buf, n);
    std::fclose(f);
  }
  return r;
}
}  // namespace

int runSplit(const Args& args) {
  std::vector<std::string> pos;
  mailformat::SplitOptions options;
  bool sync = true, quiet = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-sync") {
      sync = false;
    } else if (a == "--quiet") {
      quiet = true;
    } else if (a == "--trust" && i + 1 < args.size()) {
      const std::string& t = args[++i];
      if (t == "network") options.trust = mailformat::SourceTrust::Network;
      else if (t == "receiver") options.trust = mailformat::SourceTrust::Receiver;
      else if (t == "trusted") options.trust = mailformat::SourceTrust::Trusted;
      else {
        PrintErr("plumadex-cli split: unknown trust \"%s\"\n", t.c_str());
        return 2;
      }
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() < 2) {
    PrintErr("usage: plumadex-cli split MESSAGE... SPOOLDIR [--trust network|receiver|trusted] [--no-sync] [--quiet]\n");
    return 2;
  }
  RandomSource random;
  mailformat::MailSpool spool(pos.back(), random);
  spool.setSync(sync);
  int status = 0;
  for (size_t m = 0; m + 1 < pos.size(); ++m) {
    mailformat::SplitResult r = mailformat::SplitMessageFile(pos[m], spool, options);
    if (!r.ok()) {
      PrintErr("plumadex-cli split: %s\n", r.error.c_str());
      status = 1;
    }
    if (quiet) continue;
    for (const auto& name : r.parts) {
      mailformat::PartDescriptor d =
          mailformat::ParsePartDescriptor(ReadSmallFile(spool.PathOf(name, mailformat::kDescriptorExt)));
      std::printf("%s\t%s\t%s\n", name.c_str(), d.kind.c_str(), d.name.c_str());
    }
  }
  return status;
}

}  // namespace px::cli
