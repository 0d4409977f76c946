#pragma once
// Grid rows for the carrying tests: a newer document, a received message with two attachments,
// an older one.
#include "desk/grid_model.h"
#include "store/doc_record.h"

#include <string>

namespace px::desk::fixture {

inline store::DocRecord Rec(std::string title, std::string ext, double date, int flags = 0,
                            std::string msgId = "") {
  store::DocRecord r;
  r.folder = "/d/";
  r.title = std::move(title);
  r.ext = std::move(ext);
  r.name = r.title + "." + r.ext;
  r.date = date;
  r.flags = flags;
  r.msgId = std::move(msgId);
  return r;
}

inline GridModel MailboxRows() {
  store::DocRows rows;
  rows.push_back(Rec("old", "doc", 100));
  rows.push_back(Rec("Hello", "txt", 200, store::dfReceivedMail, "B1:001/003"));
  rows.push_back(Rec("a", "pdf", 200, store::dfReceived | store::dfSealed, "B1:002/003"));
  rows.push_back(Rec("b", "jpg", 200, store::dfReceived | store::dfSealed, "B1:003/003"));
  rows.push_back(Rec("new", "doc", 300));
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Files, -1});
  return m;
}

}  // namespace px::desk::fixture
