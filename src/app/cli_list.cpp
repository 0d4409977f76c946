#include "app/cli_commands.h"

#include <cstdio>

namespace px::cli {

int runList(const Args& args) {
  std::fprintf(stderr, "plumadex-cli list: not available yet\n");
  return 1;
}

}  // namespace px::cli
