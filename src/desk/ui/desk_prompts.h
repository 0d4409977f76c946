#pragma once
// The browser's dialogs as the desk shows them: input boxes, message-box questions, the folder
// chooser and the colour menu at the pointer.
#include "desk/browser_surfaces.h"

#include <QPointer>
#include <QWidget>

namespace px::desk {

class DialogPrompts : public DeskPrompts {
public:
  explicit DialogPrompts(QWidget* parent) : parent_(parent) {}
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& initial) override;
  bool AskYesNo(const std::string& question) override;
  bool AskOkCancel(const std::string& question) override;
  std::string ChooseCarryFolder(const std::string& caption, const TreeEnvironment& env,
                                const std::function<std::string(const TreeNode*)>& refusal) override;
  std::optional<int> ChooseColour(int current) override;
  store::CollisionAnswer AskCollision(const store::CollisionQuestion& question) override;

private:
  QPointer<QWidget> parent_;
};

}  // namespace px::desk
