#pragma once
// The folder chooser of Copy to... and Move to...: the documents folder's tree in a small
// dialog. A target the caller refuses keeps the dialog open with the reason shown.
#include "desk/tree_model.h"

#include <functional>
#include <memory>
#include <string>

class QWidget;
class QString;

namespace px::desk {

// Returns the chosen folder ("" when cancelled). refusal gives the text that refuses a node,
// "" when it may be chosen.
std::string ChooseCarryFolder(QWidget* parent, const QString& caption, const TreeEnvironment& env,
                              const std::function<std::string(const TreeNode*)>& refusal);

}  // namespace px::desk
