#pragma once
// What the configuration wizard offers for an empty Quickboard: the new-document templates the
// user is most likely to want, the programs of the desktop, and the people written to most.
// The walk of the folders (GatherTemplateEvidence) runs on a worker; the ranking is pure.
#include "foundation/types.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace px::desk {

inline constexpr size_t kWizardCandidates = 8;

// Per extension (lower case, with the dot): what was found.
struct TemplateEvidence {
  std::map<std::string, int> inDocuments;   // files of the type in the documents folder
  std::map<std::string, int> inRecent;      // recently used documents (recently-used.xbel)
  std::map<std::string, int> onDesktop;     // files on the desktop
  std::map<std::string, int> programLaunchers;  // the type's program has a launcher on the desktop
};

// Templates scoring above 10 (10 documents, 10 recent, 5 desktop, 5 launcher), highest first;
// then the usual types that have a template, in their order, up to eight; ".txt" when none.
std::vector<std::string> RankTemplates(const std::vector<std::string>& templateExts, const TemplateEvidence& e);

// The files named by a recently-used.xbel (file: URLs only, at most `limit`).
std::vector<std::string> ReadRecentlyUsed(std::string_view xbel, size_t limit = 2000);

// Counts extensions of the files directly in the documents folder and the desktop, and of the
// recently used documents. Meant for a worker thread; reads nothing it does not need.
TemplateEvidence GatherTemplateEvidence(const std::string& documentsFolder, const std::string& desktopFolder,
                                        const std::string& recentlyUsedXbel);

// The programs offered: launchers (.desktop) of the desktop, without mail programs
// (Categories=Email) and without this program.
struct ProgramCandidate {
  std::string path;
  std::string name;
  bool email = false;
};
std::vector<std::string> PickPrograms(const std::vector<ProgramCandidate>& found);

// The people written to most: counts of recipient keys, kept only when known (a contact or a
// group); the eight highest, ties by key.
std::vector<std::string> RankPeople(const std::map<std::string, int>& counts,
                                    const std::function<bool(const std::string&)>& known);

}  // namespace px::desk
