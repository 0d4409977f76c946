// plumadex-cli where: the folders this installation uses, one "name: path" line each.
#include "app/cli_commands.h"
#include "foundation/locations.h"

#include <cstdio>

namespace px::cli {

int runWhere(const Args& args) {
  if (!args.empty()) {
    PrintErr("usage: plumadex-cli where\n");
    return 2;
  }
  const Locations loc = ComputeLocations();
  std::printf("program folder: %s\n", loc.programFolder.c_str());
  std::printf("data root: %s\n", loc.dataRoot.c_str());
  std::printf("documents: %s\n", loc.documents.c_str());
  std::printf("contacts: %s\n", loc.contacts.c_str());
  std::printf("spool: %s\n", loc.inbox.c_str());
  return 0;
}

}  // namespace px::cli
