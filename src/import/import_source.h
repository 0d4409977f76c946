#pragma once
// The places mail is imported from. An ImportSource names one store of another program (a
// mailbox file or tree, a Maildir tree) and lists its folders; the import run reads them.
#include <memory>
#include <string>
#include <vector>

namespace px::import {

// Something left out, and why (shown in the summary).
struct SkippedItem {
  std::string what;    // a path, or a message's place in a file
  std::string reason;
};

struct SourceFolder {
  enum class Kind { Mbox, Maildir, Dbx };
  Kind kind = Kind::Mbox;
  std::vector<std::string> names;  // the folder's place in the source's tree, top first (raw names)
  std::string path;                // the mailbox file, or the Maildir folder (ending in "/")
};

class ImportSource {
public:
  virtual ~ImportSource() = default;
  // The command-line name of the kind of source ("mbox", "maildir").
  virtual std::string kind() const = 0;
  // What the import window shows ("Mail from mbox files: /var/mail/me").
  virtual std::string title() const = 0;
  // The file or folder the source was found at or given as.
  virtual std::string root() const = 0;
  // The folders under root(), parents before children; what cannot be read goes to skipped.
  virtual std::vector<SourceFolder> Folders(std::vector<SkippedItem>& skipped) const = 0;
};

// A mailbox file, or a folder tree of mailbox files ("X.sbd/" or a plain folder "X/" holds the
// subfolders of "X"; summary and index files beside them are passed over).
std::unique_ptr<ImportSource> MakeMboxSource(std::string path);
// A Maildir or Maildir++ tree: the root's own messages form "Inbox", ".A.B" folders become A/B,
// nested Maildirs keep their folder names.
std::unique_ptr<ImportSource> MakeMaildirSource(std::string path);
// A Thunderbird profile folder: the mailbox trees of its local and POP accounts (Mail/) and the
// offline copies of its IMAP accounts (ImapMail/), one top folder per account.
std::unique_ptr<ImportSource> MakeThunderbirdSource(std::string profile);
// An Outlook Express store folder (folders.dbx and a .dbx file per folder), or one .dbx folder
// file; only the "Local Folders" store.
std::unique_ptr<ImportSource> MakeDbxSource(std::string path);
// By kind name; nullptr for a kind this program cannot read.
std::unique_ptr<ImportSource> MakeSource(const std::string& kind, std::string path);

// Where discovery looks: the user's home folder and mail spool file ($HOME, $MAIL, $USER).
struct DiscoveryPlaces {
  std::string home;      // with or without a trailing "/"
  std::string mailFile;  // $MAIL, or /var/mail/$USER
  static DiscoveryPlaces FromEnvironment();
};

// The sources found in the usual places that hold something: the system mailbox, ~/Mail and
// ~/mail (mutt), ~/Maildir and ~/.maildir, Thunderbird's profiles. Of one kind, the kind's own order.
std::vector<std::unique_ptr<ImportSource>> DiscoverSources(const DiscoveryPlaces& places);
// The profile folders a Thunderbird profiles.ini names (relative paths taken from its folder),
// the default profile first: the one an [Install...] section names, else Default=1, else the
// first listed.
std::vector<std::string> ThunderbirdProfiles(const std::string& profilesIni);
// The profiles.ini files of Thunderbird in a home: the usual place, Flatpak's and Snap's.
std::vector<std::string> ThunderbirdProfileLists(const std::string& home);

// The first source of that kind discovery finds; nullptr when there is none.
std::unique_ptr<ImportSource> DiscoverSource(const DiscoveryPlaces& places, const std::string& kind);

}  // namespace px::import
