#include "mailformat/ui/text_document_editor.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QUrl>

namespace px::mailformat {

TextDocumentEditor::TextDocumentEditor(QTextEdit* edit) : edit_(edit), document_(edit->document()) {}

TextDocumentEditor::TextDocumentEditor(QTextDocument* document) : document_(document) {}

QTextDocument* TextDocumentEditor::document() const { return edit_ ? edit_->document() : document_.data(); }

std::string TextDocumentEditor::Html() const {
  QTextDocument* d = document();
  return d ? d->toHtml().toStdString() : std::string();
}

void TextDocumentEditor::SetHtml(std::string_view html, const std::string& baseFolder) {
  QTextDocument* d = document();
  if (!d) return;
  // Relative picture references resolve against the document's folder.
  d->setBaseUrl(baseFolder.empty() ? QUrl() : QUrl::fromLocalFile(QString::fromStdString(baseFolder)));
  d->setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
}

void TextDocumentEditor::PasteHtml(std::string_view html) {
  QString h = QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size()));
  if (edit_) {
    edit_->textCursor().insertHtml(h);
    return;
  }
  if (QTextDocument* d = document()) {
    QTextCursor c(d);
    c.movePosition(QTextCursor::End);
    c.insertHtml(h);
  }
}

HtmlEditKeys::HtmlEditKeys(QTextEdit* edit) : QObject(edit), edit_(edit) { edit->installEventFilter(this); }

bool HtmlEditKeys::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ || event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  QTextCursor cursor = edit_->textCursor();
  if (key->key() == Qt::Key_Tab && !cursor.hasSelection()) {
    cursor.insertText(QString(8, QChar::Nbsp));
    return true;
  }
  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & Qt::ShiftModifier)) {
    QTextBlockFormat format = cursor.blockFormat();
    if (format.intProperty(QTextFormat::BlockQuoteLevel) > 0) {
      // Typing continues on a new line below the quote, outside it.
      QTextBlockFormat plain;
      cursor.insertBlock(plain);
      edit_->setTextCursor(cursor);
      return true;
    }
  }
  return false;
}

}  // namespace px::mailformat
