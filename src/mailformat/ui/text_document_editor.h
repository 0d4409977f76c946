#pragma once
// The HTML editor of the compose window over Qt's rich-text document: the document wrapper
// (TDHTMLEditWrap) loads and saves through this, and the key handling of the editing widget
// (Tab, Enter inside a quoted block) lives here.
#include <QObject>
#include <QPointer>

#include "mailformat/mhtml_writer.h"

class QTextDocument;
class QTextEdit;

namespace px::mailformat {

class TextDocumentEditor : public HtmlEditor {
public:
  // Works on the edit's document and pastes at its caret; or on a bare document (pasting at the
  // end) when there is no widget.
  explicit TextDocumentEditor(QTextEdit* edit);
  explicit TextDocumentEditor(QTextDocument* document);

  std::string Html() const override;
  void SetHtml(std::string_view html, const std::string& baseFolder) override;
  void PasteHtml(std::string_view html) override;
  // Text() is the editor's default, the HTML-to-text conversion of the source: it is what a
  // saved message carries as its text alternative, the same as for every converted body.

  QTextDocument* document() const;

private:
  QPointer<QTextEdit> edit_;
  QPointer<QTextDocument> document_;
};

// Installed on a QTextEdit: Tab with nothing selected inserts eight non-breaking spaces; Enter
// inside a quoted block starts an unquoted line below it. Other keys pass on.
class HtmlEditKeys : public QObject {
  Q_OBJECT
public:
  explicit HtmlEditKeys(QTextEdit* edit);
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QTextEdit* edit_;
};

}  // namespace px::mailformat
