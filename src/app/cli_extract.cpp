// plumadex-cli extract: prints the plain text of a message as the search and the viewer see it.
#include "app/cli_commands.h"

#include <cstdio>

#include "mailformat/text_extract.h"

namespace px::cli {

int runExtract(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: plumadex-cli extract MESSAGE\n");
    return 2;
  }
  mailformat::EmlText t = mailformat::ExtractEmlText(args[0]);
  if (!t.found) {
    std::fprintf(stderr, "plumadex-cli extract: %s has no plain text part\n", args[0].c_str());
    return 1;
  }
  if (!t.charset.empty()) std::fprintf(stderr, "Charset: %s\n", t.charset.c_str());
  for (const auto& l : t.lines) {
    std::fwrite(l.data(), 1, l.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}

}  // namespace px::cli
