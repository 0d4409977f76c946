#include "app/search_glue.h"

#include "contacts/groups.h"
#include "desk/desk_browser.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "search/doc_index.h"
#include "search/filter_session.h"
#include "search/index_keeper.h"
#include "search/ui/pnl_filter.h"

#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace px::app {
namespace {

store::ListingContext workerListing(desk::DeskState& state) {
  store::ListingContext ctx;
  ctx.registry = &state.indexRegistry;
  ctx.documentsFolder = state.locations.documents;
  ctx.contactsFolder = state.locations.contacts;
  ctx.dataRoot = state.locations.dataRoot;
  ctx.tempFolder = state.locations.tempFolder;
  return ctx;
}

// Group members, read through the locked registry: usable from the worker.
GroupMembersFn workerGroupMembers(desk::DeskState& state) {
  return [contacts = state.locations.contacts, &registry = state.indexRegistry,
          firstFirst = state.settings.FirstNameFirst()](std::string_view name) {
    return contacts::GroupMembers(contacts, registry, name, firstFirst);
  };
}

}  // namespace

void InstallSearch(desk::TfrmDesk& desk, desk::DeskState& state) {
  QWidget* central = desk.centralWidget();
  auto* layout = central ? qobject_cast<QBoxLayout*>(central->layout()) : nullptr;
  if (!layout) return;
  auto* panel = new search::TpnlFilter(central);
  panel->hide();
  layout->addWidget(panel);
  auto* session = new search::FilterSession(&desk);

  // The instant index of the documents: built the first time "Search inside files" is used,
  // then kept current by the folders the desk lists again after a change and by every saved
  // folder index (document operations, the filer).
  search::IndexKeeper::Config kc;
  kc.indexFolder = search::IndexFolderOf(state.locations.dataRoot);
  kc.documents = state.locations.documents;
  kc.trash = state.locations.trash;
  kc.listing = workerListing(state);
  search::IndexKeeper* keeper = nullptr;
  if (!state.locations.dataRoot.empty() && !state.locations.documents.empty()) {
    keeper = new search::IndexKeeper(kc, &desk);
    keeper->setObjectName("indexKeeper");
    session->SetIndexFolder(kc.indexFolder);
    state.indexRegistry.SetSaveObserver([keeper](const std::string& path) { keeper->IndexSaved(path); });
    // The desk goes before its children: the registry stops telling the keeper first.
    QObject::connect(&desk, &QObject::destroyed, [&state] { state.indexRegistry.SetSaveObserver({}); });
    QObject::connect(keeper, &search::IndexKeeper::Progress, panel, &search::TpnlFilter::ShowIndexing);
    QObject::connect(keeper, &search::IndexKeeper::Updated, panel, [panel] { panel->ShowIndexing(0, 0); });
  }
  auto browser = [&desk] { return desk.findChild<desk::DeskBrowser*>(); };
  auto status = [&desk](const QString& text) {
    if (QLabel* l = desk.StatusPanel(2)) l->setText(text);
  };

  auto startSearch = [&state, session, panel, browser](const std::string& folder) {
    desk::DeskBrowser* b = browser();
    if (!b || !b->FilesTabShown()) return;
    panel->ShowSearching(session->StartSearch(folder, state.locations.trash, workerListing(state)));
  };
  auto stopFiltering = [session, panel, browser, status] {
    const bool wasActive = session->Active();
    session->Deactivate();
    panel->ShowSearching(false);
    status({});
    desk::DeskBrowser* b = browser();
    if (b && wasActive) {
      b->searchFilter = {};
      b->Relist();
    }
  };

  // Every listing of a folder while the filter asks for subfolders starts the search of its tree
  // (the shown folder's own listing first, so its matches are in the grid).
  auto hooked = std::make_shared<bool>(false);
  auto hook = [=](desk::DeskBrowser* b) {
    if (*hooked) return;
    *hooked = true;
    auto previous = b->swappedIn;
    b->swappedIn = [=](const std::string& folder) {
      if (previous) previous(folder);
      if (keeper) keeper->FolderChanged(folder);
      if (session->Active() && session->Criteria().subfolders) startSearch(folder);
    };
  };

  QObject::connect(panel, &search::TpnlFilter::SearchClicked, &desk, [=, &state] {
    desk::DeskBrowser* b = browser();
    if (!b || !b->FilesTabShown()) return;
    hook(b);
    search::FilterCriteria criteria = search::CriteriaFromPanel(panel->State(), state.locations.contacts);
    if (keeper && criteria.searchInside && !criteria.keywords.empty()) keeper->EnsureBuilt();
    session->Activate(std::move(criteria), workerGroupMembers(state));
    b->searchFilter = [session](const store::DocRecord& d) { return session->Matches(d); };
    status({});
    b->Relist();
  });
  QObject::connect(panel, &search::TpnlFilter::StopClicked, &desk, [session, panel, status] {
    session->StopSearch();
    panel->ShowSearching(false);
    status({});
  });
  QObject::connect(panel, &search::TpnlFilter::CancelClicked, &desk, [panel, stopFiltering] {
    stopFiltering();
    panel->hide();
  });
  QObject::connect(session, &search::FilterSession::Searching, &desk, [status](const QString& folder) {
    status("Searching in " + folder + " ...");
  });
  QObject::connect(session, &search::FilterSession::SearchFinished, &desk,
                   [&state, session, panel, status](bool stopped, const QString& unreadable) {
                     panel->ShowSearching(false);
                     if (stopped) {
                       status({});
                       return;
                     }
                     int64_t total = 0;
                     for (const auto& [folder, counts] : session->Counts()) total = std::max(total, counts.total);
                     status(QString("%1 found").arg(total));
                     if (!unreadable.isEmpty())
                       state.messages.QueueMessage(MessageKind::Warning, unreadable.toStdString());
                   });

  auto* aSearch = new QAction("Search", &desk);
  aSearch->setObjectName("aSearch");
  aSearch->setShortcut(QKeySequence::Find);
  desk.addAction(aSearch);
  QObject::connect(aSearch, &QAction::triggered, &desk, [panel, stopFiltering] {
    if (panel->isVisible()) {
      stopFiltering();
      panel->hide();
      return;
    }
    panel->show();
    panel->edtFilterKeywords->setFocus();
  });

}

}  // namespace px::app
