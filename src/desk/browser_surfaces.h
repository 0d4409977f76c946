#pragma once
// What the desk's browser asks of the screen: the document grid, the folder trees and the
// dialogs. The widgets implement these; tests give fakes and scripted answers, so every action
// of the browser runs headless.
#include "desk/grid_layout.h"
#include "desk/grid_model.h"
#include "desk/tree_model.h"
#include "store/collision_choice.h"
#include "store/doc_record.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace px::desk {

// The document grid: it shows a GridModel the browser fills.
class GridSurface {
public:
  virtual ~GridSurface() = default;
  virtual GridModel& model() = 0;
  virtual const GridModel& model() const = 0;
  // The busy cursor over the grid.
  virtual void SetBusy(bool on) = 0;
  // A large folder is being listed: the progress bar over the empty grid (0 to 100; -1 hides
  // it) and how many entries the folder has.
  virtual void ShowListingProgress(int percent, size_t entries) {
    (void)percent;
    (void)entries;
  }
  virtual void Clear() = 0;
  // A new listing is shown (the model is taken over whole).
  virtual void TakeModel(GridModel&& model) = 0;
  virtual void SetRows(store::DocRows rows) = 0;
  virtual int TopRow() const = 0;
  virtual void SetTopRow(int row) = 0;
  // The sort order of the shown tab.
  virtual int CurrentSorting() const = 0;
  // Header, sort order and column widths follow the tab.
  virtual void SetTab(GridTab tab) = 0;
  virtual void SetSortLocked(bool on) = 0;
  virtual void SetFixedSorting(int sorting) = 0;
  // The index of the view-filter tab chosen above the grid.
  virtual int ViewFilterIndex() const = 0;
  // The record whose sticker mark the pointer is on, or -1.
  virtual int StickerMarkUnderPointer() const = 0;
  virtual void RepaintRows() = 0;
  // The number of rows shown changed (after a new sort or filter).
  virtual void UpdateRange() = 0;
  // The selection was changed from outside the grid (status text, hand).
  virtual void SelectionTouched() = 0;
};

// One folder tree on the screen, a view of one of the browser's tree models.
class TreeSurface {
public:
  virtual ~TreeSurface() = default;
  // Makes the node the current one and scrolls to it.
  virtual void SelectNode(TreeNode* node) = 0;
  // Opens the node (its children are loaded).
  virtual void ExpandNode(TreeNode* node) = 0;
  virtual TreeNode* CurrentNode() const = 0;
  // How counts are drawn: bold or not, and in a colour (0x00BBGGRR) or the text's own.
  virtual void SetCountLook(bool bold, std::optional<uint32_t> colour) = 0;
};

// The dialogs the browser's actions open.
class DeskPrompts {
public:
  virtual ~DeskPrompts() = default;
  // A line of text; nullopt when cancelled.
  virtual std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                             const std::string& initial) = 0;
  virtual bool AskYesNo(const std::string& question) = 0;
  virtual bool AskOkCancel(const std::string& question) = 0;
  // Copy to... / Move to...: a folder of the documents tree ("" when cancelled). A node the
  // refusal names a text for cannot be chosen; the text says why.
  virtual std::string ChooseCarryFolder(const std::string& caption, const TreeEnvironment& env,
                                        const std::function<std::string(const TreeNode*)>& refusal) = 0;
  // The colour label chooser: 0 (none) or 1 to 8; nullopt when cancelled. current: the colour
  // checked in the chooser.
  virtual std::optional<int> ChooseColour(int current) = 0;
  // A document meets a file of its name in the target folder: Replace, Keep both or Skip.
  virtual store::CollisionAnswer AskCollision(const store::CollisionQuestion& question) = 0;
};

}  // namespace px::desk
