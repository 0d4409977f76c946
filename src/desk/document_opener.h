#pragma once
// The desk's document opener: opens a grid row with its program (or hands ".txt" and ".eml" to
// the message window), keeps the records of what it opened, and on each tmrRun tick turns a
// closed document's changes into what the rules say: a new date, or a new document when the
// original may not change. Documents that may not change are opened from a private copy, so the
// original is never touched, whatever the program or the desk does.
#include "desk/opening.h"
#include "platform/desktop_apps.h"
#include "platform/window_probe.h"
#include "store/op_services.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace px {
class MessageQueue;
}
namespace px::store {
struct DocRecord;
}

namespace px::desk {

// What the widgets answer and the operations do for the opener.
struct OpenerServices {
  MessageQueue* messages = nullptr;
  std::string privateFolder;    // where private copies and new documents are made ("/" at the end)
  std::string documentsFolder;
  std::string documentsName;    // shown in messages
  std::string templatesFolder;  // the user's templates ("" when none)
  // ".txt" and ".eml" in the message window; false when it is not available.
  std::function<bool(const store::DocRecord&)> openInMessageWindow;
  // "New document" / "Enter name for new file": nullopt when cancelled.
  std::function<std::optional<std::string>(const std::string& proposedTitle)> askName;
  std::function<bool(const std::string& question)> askYesNo;
  // The "Open with" chooser: the type's applications first, then all others.
  std::function<std::optional<platform::DesktopEntry>(const std::string& fileName, const std::string& mimeType,
                                                      const std::vector<platform::DesktopEntry>& forType,
                                                      const std::vector<platform::DesktopEntry>& others)>
      chooseApplication;
  // Operation 7: stores `file` as a new document titled `title` in `folder`; false on failure
  // (the operation has reported it). move: the file is taken, not copied.
  std::function<bool(const std::string& file, const std::string& folder, const std::string& title, bool move)> storeNew;
  // A document changed in place: its row shows the new date.
  std::function<void(const std::string& folder, const std::string& fileName)> changedInPlace;
  // Whether the index of `folder` has a mail entry (received or outgoing, not pending) for the file.
  std::function<bool(const std::string& folder, const std::string& fileName)> hasMailEntry;
  std::function<void(const std::string& url)> openUrl;  // the browser (for links)
};

struct NewDocumentTemplate {
  std::string name;  // shown in the menu
  std::string ext;   // without the dot
  std::string path;  // template file, or "" for an empty file
};

class DocumentOpener final : public store::OpenDocuments {
public:
  DocumentOpener(OpenerServices services, platform::AppRegistry apps, std::unique_ptr<platform::WindowProbe> probe);
  ~DocumentOpener() override;

  // What the document operations ask: they never touch a document that is open.
  bool IsOpen(const std::string& path) const override;
  bool AnyOpenBelow(const std::string& folder) const override;
  void BringForward(const std::string& path) override;

  // The grid's open action. restricted: the row's folder is restricted. True when handled
  // (also when refused with a message).
  bool OpenDocument(const store::DocRecord& record, bool restricted);
  // Opens a file as plain text in the message window (the refusal's alternative).
  bool OpenAsText(const store::DocRecord& record);
  // Opens with a program the user picks.
  bool OpenWith(const store::DocRecord& record, bool restricted);
  // Opens with the given program (a document dropped on a program's Quickboard button).
  bool OpenWithProgram(const store::DocRecord& record, const platform::DesktopEntry& entry, bool restricted);
  // A new document of a template in folder (hidden until it is named and stored).
  bool NewDocument(const NewDocumentTemplate& t, const std::string& folder, bool restricted, const std::string& now);
  std::vector<NewDocumentTemplate> Templates() const;
  // Printing through CUPS.
  bool Print(const store::DocRecord& record);

  // tmrRunTimer: once a second while records exist.
  void OnRunTimer() { OnRunTimer(SteadyNowMs()); }
  void OnRunTimer(std::int64_t nowMs);  // nowMs: the steady clock's milliseconds
  static std::int64_t SteadyNowMs();
  bool HasOpenDocuments() const { return !docs_.Empty(); }
  const OpenRecords& Records() const { return docs_; }
  // Private copies a crashed run left behind that hold changes are stored as new documents in
  // the documents folder; unchanged ones are removed.
  void RecoverLeftovers();

  // The command that opens path with entry (tests).
  static platform::ExecCommand CommandFor(const platform::DesktopEntry& entry, const std::string& path);

private:
  bool OpenWithEntry(const store::DocRecord& r, const platform::DesktopEntry& entry, bool restricted, bool watch);
  bool launch(OpenRecord record, const platform::DesktopEntry& entry);
  void finish(const OpenRecords::Closed& closed);
  std::string MakePrivateCopy(const std::string& source, std::string* error);
  void queue(int kind, const std::string& text);

  OpenerServices svc_;
  platform::AppRegistry apps_;
  std::unique_ptr<platform::WindowProbe> probe_;
  OpenRecords docs_;
};

}  // namespace px::desk
