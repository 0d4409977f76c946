#pragma once
// The desk's Delete, Rename and Duplicate actions decide what to do before an operation runs;
// these are those decisions, free of widgets, plus the trash indicator.
#include <cstddef>
#include <string>
#include <string_view>

namespace px::store {

inline constexpr std::string_view kCannotDeleteFolder = "Sorry, but you cannot delete this folder.";
inline constexpr std::string_view kCannotDeleteFiles = "Sorry, but you cannot delete files in this folder.";
inline constexpr std::string_view kOpenBelowFolder =
    "Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.";
inline constexpr std::string_view kOpenInTrash =
    "Sorry, but you must close all opened files from the trash bin before emptying it";
inline constexpr std::string_view kEmptyTrashQuestion = "Empty trash bin?";
inline constexpr std::string_view kCannotRenameFolder = "Sorry, but you cannot rename this folder.";
inline constexpr std::string_view kCannotRenameFiles = "Sorry, but you cannot rename files in this folder.";
inline constexpr std::string_view kCannotCreateFiles = "Sorry, but you cannot create new files in this folder.";
inline constexpr std::string_view kCannotMoveFiles = "Sorry, but you cannot move files from this folder.";
inline constexpr std::string_view kRenameDialogTitle = "Enter new name";
inline constexpr std::string_view kNewDocumentTitle = "New document";
inline constexpr std::string_view kNewDocumentPrompt = "Enter name for new file";

struct DeleteRequest {
  bool onQuickboardButton = false;  // the pointer is on a Quickboard button
  bool onFolder = false;            // the tree's folder is to be deleted (not documents)
  bool folderDeletable = true;      // the folder may be deleted (not a special root)
  bool filesDeletable = true;       // documents may be deleted in the shown folder
  bool anySelected = false;
  bool onSticker = false;           // the sticker mark of a row is aimed at
  bool trashFull = false;
  bool openInTrash = false;         // a document opened from the trash
  bool openBelowFolder = false;     // a document opened from the folder or below it
  bool contactsTab = false;
  bool insideTrash = false;         // the shown folder is the trash or lies in it
  size_t count = 0;                 // documents selected (with the hidden parts of messages)
  std::string folderTitle;          // onFolder: the folder's caption
};

enum class DeleteAction {
  Nothing,
  ClearQuickboardButton,
  Refuse,           // show `refusal`
  AskEmptyTrash,    // ask kEmptyTrashQuestion (Yes/No), then operation 12 on the trash
  RemoveSticker,    // operation 13 with an empty sticker
  DeleteFinal,      // operation 11 (documents) or 12 (a folder)
  MoveToTrash,      // operation 4 into the trash
};

struct DeletePlan {
  DeleteAction action = DeleteAction::Nothing;
  std::string refusal;
  int code = 0;  // the operation to run (0 for none)
  // DeleteFinal inside the trash: what to ask (Yes/No) before erasing for good; "" asks nothing.
  std::string question;
};

DeletePlan PlanDelete(const DeleteRequest& r);

struct RenameRequest {
  bool onFolder = false;
  bool allowed = true;
  bool documentOpen = false;  // bring its window forward instead
};
// The refusal text, or "" when the rename dialog may be shown (documentOpen: "" as well; the
// caller brings the document forward).
std::string RenameRefusalFor(const RenameRequest& r);

struct DuplicateRequest {
  bool allowed = true;        // new files may be made in the shown folder (files or contacts tab)
  size_t selected = 0;        // rows selected
  bool ordinaryFile = false;  // the one selected row is a file (not a folder, contact or group)
};
enum class DuplicateAction {
  Nothing,  // not one ordinary file: the action does not apply
  Refuse,   // show kCannotCreateFiles
  AskName,  // ask kNewDocumentTitle / kNewDocumentPrompt, then operation 2 into the same folder
};
DuplicateAction PlanDuplicate(const DuplicateRequest& r);

// Image indexes of the trash indicator: the Delete toolbar button and the trash tree node.
struct TrashImages {
  int toolbarImage;   // 5 full, 7 empty
  int treeImage;      // 4 full, 5 empty
  bool expandButton;  // shown only when full
};
TrashImages TrashImagesFor(bool full);

}  // namespace px::store
