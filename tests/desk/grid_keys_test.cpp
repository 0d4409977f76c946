// The grid's keyboard: arrows select the row they reach, Shift extends from the anchor, Ctrl
// moves without selecting, Space toggles, Enter opens the selected row (never the pointer's).
#include <gtest/gtest.h>

#include "desk/grid_keys.h"

#include <string>
#include <vector>

namespace px::desk {
namespace {

GridModel Rows(int n) {
  store::DocRows rows;
  for (int i = 0; i < n; ++i) {
    store::DocRecord r;
    r.folder = "/d/";
    r.title = "r" + std::to_string(i);
    r.ext = "txt";
    r.name = r.title + ".txt";
    rows.push_back(r);
  }
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Files, 1});  // by name: visible order r0..r5
  return m;
}

std::vector<int> SelectedVisible(const GridModel& m) {
  std::vector<int> out;
  for (size_t v = 0; v < m.VisibleCount(); ++v)
    if (m.rows()[m.RecordOfVisible(v)].selected) out.push_back(static_cast<int>(v));
  return out;
}

TEST(GridKeys, TheKeyboardFollowsTheSelectionModelOfAnItemView) {
  struct Step {
    GridKey key;
    bool shift, ctrl;
  };
  struct Case {
    const char* what;
    std::vector<int> selectedBefore;
    GridCursor cursor;
    std::vector<Step> steps;
    std::vector<int> selected;
    int current;
    int opened;  // visible row Enter opened (-1 none)
  };
  const GridKey D = GridKey::Down, U = GridKey::Up, E = GridKey::Enter;
  const Case cases[] = {
      {"Down selects the next row alone", {1}, {1, 1}, {{D, false, false}}, {2}, 2, -1},
      {"Shift+Down twice extends from the anchor", {1}, {1, 1}, {{D, true, false}, {D, true, false}}, {1, 2, 3}, 3, -1},
      {"Shift+Up past the anchor turns the range round", {2}, {2, 2}, {{U, true, false}, {U, true, false}}, {0, 1, 2}, 0, -1},
      {"Shift+Down then Shift+Up shrinks it", {1}, {1, 1}, {{D, true, false}, {D, true, false}, {U, true, false}}, {1, 2}, 2, -1},
      {"Ctrl moves without selecting, Space adds", {1}, {1, 1}, {{D, false, true}, {D, false, true}, {GridKey::Space, false, true}}, {1, 3}, 3, -1},
      {"Enter opens the selected row, not the current one", {4}, {1, 4}, {{E, false, false}}, {4}, 1, 4},
      {"Enter opens the current row when it is selected", {1, 4}, {4, 1}, {{E, false, false}}, {1, 4}, 4, 4},
      {"Enter with nothing selected opens the current row", {}, {2, -1}, {{E, false, false}}, {}, 2, 2},
      {"End then Shift+Home selects all", {}, {-1, -1}, {{GridKey::End, false, false}, {GridKey::Home, true, false}}, {0, 1, 2, 3, 4, 5}, 0, -1},
      {"PageDown stops at the last row", {}, {4, 4}, {{GridKey::PageDown, false, false}}, {5}, 5, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GridModel m = Rows(6);
    for (int v : c.selectedBefore) m.SetSelected(m.RecordOfVisible(static_cast<size_t>(v)), true);
    GridCursor cursor = c.cursor;
    int opened = -1;
    for (const Step& s : c.steps) {
      const GridKeyOutcome out = ApplyGridKey(m, cursor, s.key, s.shift, s.ctrl, 3);
      if (out.open >= 0) opened = m.VisibleOfRecord(static_cast<size_t>(out.open));
    }
    EXPECT_EQ(SelectedVisible(m), c.selected);
    EXPECT_EQ(cursor.current, c.current);
    EXPECT_EQ(opened, c.opened);
  }
}

}  // namespace
}  // namespace px::desk
