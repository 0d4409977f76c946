#include "store/desk_actions.h"

#include "store/doc_operations.h"

namespace px::store {

DeletePlan PlanDelete(const DeleteRequest& r) {
  DeletePlan p;
  auto refuse = [&](std::string_view text) {
    p.action = DeleteAction::Refuse;
    p.refusal = std::string(text);
    return p;
  };
  if (r.onQuickboardButton) {
    p.action = DeleteAction::ClearQuickboardButton;
    return p;
  }
  if (r.onFolder) {
    if (!r.folderDeletable) return refuse(kCannotDeleteFolder);
    if (r.openBelowFolder) return refuse(kOpenBelowFolder);
    p.action = (r.contactsTab || r.insideTrash) ? DeleteAction::DeleteFinal : DeleteAction::MoveToTrash;
    p.code = p.action == DeleteAction::DeleteFinal ? opDeleteFolder : opMove;
    if (r.insideTrash)
      p.question = "Delete the folder \"" + r.folderTitle +
                   "\" and everything in it for good? It cannot be restored afterwards.";
    return p;
  }
  if (!r.anySelected) {
    if (!r.trashFull) return p;
    if (r.openInTrash) return refuse(kOpenInTrash);
    p.action = DeleteAction::AskEmptyTrash;
    p.code = opDeleteFolder;
    return p;
  }
  if (!r.filesDeletable) return refuse(kCannotDeleteFiles);
  if (r.onSticker) {
    p.action = DeleteAction::RemoveSticker;
    p.code = opWriteSticker;
    return p;
  }
  p.action = (r.contactsTab || r.insideTrash) ? DeleteAction::DeleteFinal : DeleteAction::MoveToTrash;
  p.code = p.action == DeleteAction::DeleteFinal ? opDelete : opMove;
  if (r.insideTrash && !r.contactsTab)
    p.question = r.count == 1 ? std::string("Delete this document for good? It cannot be restored afterwards.")
                              : "Delete these " + std::to_string(r.count) +
                                    " documents for good? They cannot be restored afterwards.";
  return p;
}

std::string RenameRefusalFor(const RenameRequest& r) {
  if (!r.allowed) return std::string(r.onFolder ? kCannotRenameFolder : kCannotRenameFiles);
  return {};
}

DuplicateAction PlanDuplicate(const DuplicateRequest& r) {
  if (!r.allowed) return DuplicateAction::Refuse;
  if (r.selected != 1 || !r.ordinaryFile) return DuplicateAction::Nothing;
  return DuplicateAction::AskName;
}

TrashImages TrashImagesFor(bool full) {
  return full ? TrashImages{5, 4, true} : TrashImages{7, 5, false};
}

}  // namespace px::store
