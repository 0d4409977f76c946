// plumadex-cli import-contacts FILE...: adds the cards of vCard files to the Contacts folder,
// every card of a file as its own contact.
#include "app/cli_commands.h"
#include "contacts/contact_folder.h"
#include "foundation/ini_file.h"
#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"

#include <cstdio>

namespace px::cli {

int runImportContacts(const Args& args) {
  if (args.empty()) {
    PrintErr("usage: plumadex-cli import-contacts FILE...\n");
    return 2;
  }
  const Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  store::IniRegistry registry;
  contacts::AddressMap map;
  RandomSource random;
  int status = 0;
  for (const std::string& file : args) {
    std::string bytes;
    FileStatus st = ReadWholeFile(file, bytes, contacts::kMaxCardFileSize * 8);
    if (!st.ok()) {
      PrintErr("Cannot read %s (error %d)\n", file.c_str(), st.error);
      status = 1;
      continue;
    }
    contacts::ImportResult r =
        contacts::ImportContactCards(loc.contacts, bytes, registry, map, true, random);
    std::printf("%s: %d contact(s) imported", file.c_str(), r.imported);
    if (r.known) std::printf(", %d already in Contacts", r.known);
    if (r.empty) std::printf(", %d empty card(s) left out", r.empty);
    std::printf("\n");
    for (const std::string& e : r.errors) {
      PrintErr("%s\n", e.c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace px::cli
