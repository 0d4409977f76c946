#pragma once
// The points where the desk's start-up, timers and shutdown call into the other parts of the
// program. Every hook is optional: an empty one does nothing (or answers with the value in
// brackets), so a part plugs in by setting its hook without changing the order of the steps.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace px::transport {
class ThreadRecvChain;
}

namespace px::desk {

enum class TransferKind { Send, Receive, Both };

struct DeskHooks {
  // --- Start-up (the desk initialisation, in its order) ---
  std::function<void()> applySkin;                // guarded: errors are ignored
  std::function<void()> runAddressSetup;          // modal service-address set-up
  std::function<bool()> runVersionCheck;          // [false] true when the check succeeded
  std::function<void(const std::string&)> playSound;  // system sound name, never blocks
  std::function<void()> showSplash;
  std::function<void()> createLists;              // new-mail list, blocked senders, sorting rules
  std::function<void()> startThreads;             // icon and local-address threads, image lists, cursors
  std::function<void()> openSentRegister;         // clear the grid, open sent.ini, pending folders
  std::function<void()> bindShellFolders;
  // Each of these five is guarded on its own.
  std::function<void()> loadUnreadList;
  std::function<void()> buildTrees;
  std::function<void()> syncContacts;             // NameOrder, contacts root, address map
  std::function<void()> loadQuickboard;           // with the new-document templates
  std::function<void()> initEncryption;
  std::function<void()> readLayout;               // tree width, columns, fonts, sorting, ...
  std::function<void()> initLayout;               // clock, Quickboard slots, panels, tabs, trash
  std::function<void()> readMailSettings;         // CopyMove, Message Format, charset, preview
  std::function<void()> removeSplash;             // splash and curtain go
  std::function<void()> repaint;
  std::function<void()> selectFirstNode;          // list the first tree node and show the tree
  std::function<void()> checkDefaultMailProgram;
  std::function<void()> openWizard;               // configuration wizard of a new install

  // --- Requests ---
  std::function<void(const std::string&)> openMailto;  // start a new message from a mailto URL
  std::function<void(int)> saveBrowserPage;            // "/web:" + digit
  std::function<void()> bringToFront;
  // Contact card files (.vcf) dropped on the contacts view become contacts.
  std::function<void(const std::vector<std::string>& paths)> importContactCards;
  // "Import contacts...": asks for vCard files and imports them (unset: the command is off).
  std::function<void()> importContacts;

  // --- Timers ---
  std::function<void()> showClock;
  std::function<bool()> filesTabShown;                 // [false] (the contacts tab counts too: its folder is watched)
  std::function<void()> checkFolderChanges;            // with refresh
  std::function<bool()> fileReceivedMail;              // [false] true when anything was filed
  std::function<bool()> commitSentMail;                // [false] true when anything changed
  std::function<bool()> folderSelected;                // [false] the files tab shows a selected folder
  std::function<void()> relistFolder;
  std::function<bool()> internetAvailable;             // [true]
  std::function<void(TransferKind)> startTransfer;
  std::function<void()> pollTransfer;
  std::function<void()> mouseHousekeeping;
  std::function<void()> watchOpenedDocuments;
  std::function<void()> hintTick;
  std::function<void()> autoExpand;
  std::function<void()> clearTypeAhead;
  std::function<void()> filterType;
  std::function<void()> filterMove;
  std::function<void()> showServerPreview;             // modal
  // A receive chain over every account, made as a receive run makes it (passwords asked on
  // the way); null when there is nothing to visit. The preview runs use it.
  std::function<std::unique_ptr<transport::ThreadRecvChain>()> prepareReceiveChain;
  std::function<bool()> transferRunning;               // [false] a send or receive run is going
  std::function<bool()> previewRunning;                // [false] a preview run is going
  std::function<void()> reapplySkin;
  std::function<void()> terminate;                     // ends the program (closes the desk)

  // --- Shutdown ---
  std::function<bool()> openedDocumentsStillOpen;      // [false] temporary copies still open
  std::function<void()> bringOpenedDocumentToFront;
  // A transfer runs: asks whether to stop it and exit; true when the desk may close now. On Yes
  // the run is stopped and the close waits for its end, which closes the desk again.
  std::function<bool()> stopTransferForClose;          // [false]
  std::function<void()> hideOptionsPanels;             // saves their values
  std::function<void()> removeSkin;
  std::function<void()> restoreMailProgram;
  std::function<void()> closeChangeNotification;
  std::function<void()> stopThreads;
  std::function<void()> freeQuickboard;
  std::function<void()> rememberTopRow;
  std::function<void()> saveComposeSize;
  std::function<void()> clearGrid;
  std::function<void()> deleteImportScratch;
  std::function<void()> closeSentRegister;
  std::function<void()> freeLists;
  std::function<void()> saveUnreadList;
  std::function<void()> saveNewMailList;
  std::function<void()> closeHelp;
};

}  // namespace px::desk
