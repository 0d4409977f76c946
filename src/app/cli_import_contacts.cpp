// plumadex-cli import-contacts [--on-shared=skip|merge|keep-both] FILE...: adds the cards of
// vCard files to the Contacts folder, every card of a file as its own contact. A card whose
// address a contact already has is left out unless --on-shared says otherwise.
#include "app/cli_commands.h"
#include "contacts/contact_folder.h"
#include "foundation/ini_file.h"
#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"

#include <cstdio>

namespace px::cli {

int runImportContacts(const Args& args) {
  contacts::SharedAddressChoice onShared = contacts::SharedAddressChoice::Skip;
  Args files;
  for (const std::string& a : args) {
    if (a.rfind("--on-shared=", 0) == 0) {
      const auto choice = contacts::SharedAddressChoiceOf(std::string_view(a).substr(12));
      if (!choice) {
        PrintErr("import-contacts: --on-shared takes skip, merge or keep-both\n");
        return 2;
      }
      onShared = *choice;
      continue;
    }
    files.push_back(a);
  }
  if (files.empty()) {
    PrintErr("usage: plumadex-cli import-contacts [--on-shared=skip|merge|keep-both] FILE...\n");
    return 2;
  }
  const Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  store::IniRegistry registry;
  contacts::AddressMap map;
  RandomSource random;
  int status = 0;
  const contacts::SharedAddressResolver shared = [onShared](const contacts::SharedAddressQuestion&) { return onShared; };
  for (const std::string& file : files) {
    std::string bytes;
    FileStatus st = ReadWholeFile(file, bytes, contacts::kMaxCardFileSize * 8);
    if (!st.ok()) {
      PrintErr("Cannot read %s (error %d)\n", file.c_str(), st.error);
      status = 1;
      continue;
    }
    contacts::ImportResult r =
        contacts::ImportContactCards(loc.contacts, bytes, registry, map, true, random, shared);
    std::printf("%s: %d contact(s) imported", file.c_str(), r.imported);
    if (r.merged) std::printf(", %d merged into contacts with the same address", r.merged);
    if (r.keptBoth) std::printf(" (%d beside a contact with the same address)", r.keptBoth);
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
