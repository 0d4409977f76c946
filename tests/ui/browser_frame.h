#pragma once
// The desk's browser laid into a test's window the way the desk window lays it out: the tab
// widget with the three tree pages, the grid's frame and the status label.
#include "desk/desk_state.h"
#include "desk/ui/tree_view.h"

#include <QLabel>
#include <QRect>
#include <QTabWidget>
#include <QWidget>

#include <memory>

namespace px::desk {

// The widgets are children of host; empty rectangles leave the geometry to the widgets.
inline std::unique_ptr<DeskBrowserView> LayBrowser(DeskState& state, QWidget& host, QTabWidget*& trees,
                                                   QWidget*& gridHost, QLabel*& status,
                                                   QRect treesRect = {}, QRect gridRect = {}) {
  trees = new QTabWidget(&host);
  for (const char* t : {"Files", "Contacts", "Tools"}) trees->addTab(new QWidget, QString::fromLatin1(t));
  if (!treesRect.isEmpty()) trees->setGeometry(treesRect);
  gridHost = new QWidget(&host);
  if (!gridRect.isEmpty()) gridHost->setGeometry(gridRect);
  status = new QLabel(&host);
  return std::make_unique<DeskBrowserView>(state, trees, gridHost, status);
}

}  // namespace px::desk
