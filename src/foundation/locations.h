#pragma once
// Where the program keeps its data. Every folder path ends in "/".
//
//   data root        $XDG_DATA_HOME/Plumadex/          (PLUMADEX_HOME=DIR: DIR/data/)
//   contacts         data root + "Contacts/"
//   inbox            data root + "Inbox/"                (the mail spool)
//   icons            data root + "Icons/"                (Quickboard icons)
//   documents        the XDG documents folder            (PLUMADEX_HOME=DIR: DIR/Documents/)
//   trash            documents + "TRASH/"
//   program folder   the installed data folder (share/plumadex/), or the source tree's data/
//                    when run from the build tree
//   temporary folder a private folder (mode 0700) made for this run under the system's
//                    temporary folder, removed with its content at exit; the system's
//                    temporary folder itself when it cannot be made
//   runtime folder   per-user folder for the single-instance lock and socket
//                    ($XDG_RUNTIME_DIR/plumadex/, PLUMADEX_HOME=DIR: DIR/run/)
//
// Computing the paths touches nothing; MakeDataFolders and MakeTempFolder create them.
#include <string>

namespace px {

struct Locations {
  std::string dataRoot;
  std::string contacts;
  std::string inbox;
  std::string icons;
  std::string documents;
  std::string trash;
  std::string programFolder;
  std::string tempFolder;
  std::string runtimeFolder;
  bool tempFolderCreated = false;  // this run made tempFolder and removes it at exit

  std::string UserIni() const { return dataRoot + "User.ini"; }
  // Template of a new User.ini, installed with the program.
  std::string UserTemplate() const { return programFolder + "user0.ini"; }
  std::string SentIni() const { return dataRoot + "sent.ini"; }
  std::string UnreadList() const { return dataRoot + "unread.lst"; }
  std::string NewMailList() const { return dataRoot + "newmail.lst"; }
  std::string QuickboardIni() const { return dataRoot + "quickboard.ini"; }
  // Hand-over file of a mailto request (first line: the URL).
  std::string HandOverFile() const { return tempFolder + "$Plumadex$MT.tmp"; }
};

// Paths from the environment (PLUMADEX_HOME, XDG variables); creates nothing. tempFolder is
// left empty until MakeTempFolder.
Locations ComputeLocations();

// The program folder: PLUMADEX_PROGRAM_DIR when set, else the source tree's data/ when the
// program runs from a build tree, else the installed data folder.
std::string ProgramFolder();

// Makes the private temporary folder of this run and records it in loc (tempFolderCreated
// tells whether it must be removed at exit).
void MakeTempFolder(Locations& loc);
// Removes the temporary folder with its content when this run created it.
void RemoveTempFolder(Locations& loc);

// Creates the data root, Contacts (normalising the case of an existing "contacts"), Inbox,
// Icons and the trash in the documents folder; copies the User.ini template when User.ini is
// missing (an empty file when there is no template), with mode 0600. Failures are not
// reported: later file operations fail on their own.
void MakeDataFolders(const Locations& loc);

// Ensures a folder path ends in "/" (empty stays empty).
std::string WithSlash(std::string path);

}  // namespace px
