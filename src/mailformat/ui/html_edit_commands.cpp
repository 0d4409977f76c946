#include "mailformat/ui/html_edit_commands.h"

#include <QFileInfo>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextList>
#include <QUrl>

#include "mailformat/codecs.h"
#include "mailformat/mhtml_writer.h"

namespace px::mailformat {

namespace {

constexpr qreal kIndentStep = 40;  // pixels per indentation level, as a quote is indented

void MergeOnWordOrSelection(QTextEdit* edit, const QTextCharFormat& format) {
  QTextCursor c = edit->textCursor();
  if (!c.hasSelection()) c.select(QTextCursor::WordUnderCursor);
  c.mergeCharFormat(format);
  edit->mergeCurrentCharFormat(format);
}

}  // namespace

HtmlEditCommands::HtmlEditCommands(QTextEdit* edit, TDHTMLEditWrap* wrap) : edit_(edit), wrap_(wrap) {}

bool HtmlEditCommands::CanEdit() const { return edit_ && !edit_->isReadOnly(); }

void HtmlEditCommands::Delete() {
  if (!CanEdit()) return;
  QTextCursor c = edit_->textCursor();
  if (c.hasSelection())
    c.removeSelectedText();
  else
    c.deleteChar();
}

QString HtmlEditCommands::FontName() const {
  QStringList families = edit_->currentCharFormat().fontFamilies().toStringList();
  return families.isEmpty() ? edit_->document()->defaultFont().family() : families.first();
}

void HtmlEditCommands::SetFontName(const QString& family) {
  if (!CanEdit() || family.isEmpty()) return;
  QTextCharFormat f;
  f.setFontFamilies({family});
  MergeOnWordOrSelection(edit_, f);
}

int HtmlEditCommands::FontSize() const {
  qreal pt = edit_->currentCharFormat().fontPointSize();
  if (pt <= 0) pt = edit_->document()->defaultFont().pointSizeF();
  return qRound(pt);
}

void HtmlEditCommands::SetFontSize(int points) {
  if (!CanEdit() || points <= 0) return;
  QTextCharFormat f;
  f.setFontPointSize(points);
  MergeOnWordOrSelection(edit_, f);
}

QColor HtmlEditCommands::TextColour() const { return edit_->currentCharFormat().foreground().color(); }

void HtmlEditCommands::SetTextColour(const QColor& colour) {
  if (!CanEdit() || !colour.isValid()) return;
  QTextCharFormat f;
  f.setForeground(colour);
  MergeOnWordOrSelection(edit_, f);
}

bool HtmlEditCommands::IsBold() const { return edit_->currentCharFormat().fontWeight() >= QFont::Bold; }
bool HtmlEditCommands::IsItalic() const { return edit_->currentCharFormat().fontItalic(); }
bool HtmlEditCommands::IsUnderline() const { return edit_->currentCharFormat().fontUnderline(); }

void HtmlEditCommands::Bold() {
  if (!CanEdit()) return;
  QTextCharFormat f;
  f.setFontWeight(IsBold() ? QFont::Normal : QFont::Bold);
  MergeOnWordOrSelection(edit_, f);
}

void HtmlEditCommands::Italic() {
  if (!CanEdit()) return;
  QTextCharFormat f;
  f.setFontItalic(!IsItalic());
  MergeOnWordOrSelection(edit_, f);
}

void HtmlEditCommands::Underline() {
  if (!CanEdit()) return;
  QTextCharFormat f;
  f.setFontUnderline(!IsUnderline());
  MergeOnWordOrSelection(edit_, f);
}

QStringList HtmlEditCommands::ParagraphFormatNames() {
  return {"Normal", "Formatted", "Address", "Heading 1", "Heading 2", "Heading 3",
          "Heading 4", "Heading 5", "Heading 6", "Numbered List", "Bulleted List"};
}

QString HtmlEditCommands::ParagraphFormat() const {
  QTextCursor c = edit_->textCursor();
  if (QTextList* list = c.currentList())
    return list->format().style() == QTextListFormat::ListDecimal ? "Numbered List" : "Bulleted List";
  int heading = c.blockFormat().headingLevel();
  if (heading >= 1 && heading <= 6) return QString("Heading %1").arg(heading);
  if (c.blockFormat().nonBreakableLines()) return "Formatted";
  if (c.blockCharFormat().fontItalic() && c.blockFormat().property(QTextFormat::UserProperty).toString() == "Address")
    return "Address";
  return "Normal";
}

void HtmlEditCommands::SetParagraphFormat(const QString& name) {
  if (!CanEdit() || !ParagraphFormatNames().contains(name)) return;
  QTextCursor c = edit_->textCursor();
  c.beginEditBlock();
  if (QTextList* list = c.currentList()) {
    // Leaving a list: the block becomes an ordinary paragraph.
    list->remove(c.block());
    QTextBlockFormat b = c.blockFormat();
    b.setIndent(0);
    c.setBlockFormat(b);
  }
  QTextBlockFormat block = c.blockFormat();
  block.setHeadingLevel(0);
  block.setNonBreakableLines(false);
  block.clearProperty(QTextFormat::UserProperty);
  QTextCharFormat chars;
  chars.setFontWeight(QFont::Normal);
  chars.setFontItalic(false);
  chars.setProperty(QTextFormat::FontSizeAdjustment, 0);
  chars.setFontFixedPitch(false);
  if (name.startsWith("Heading ")) {
    int level = name.mid(8).toInt();
    block.setHeadingLevel(level);
    chars.setFontWeight(QFont::Bold);
    chars.setProperty(QTextFormat::FontSizeAdjustment, level <= 3 ? 4 - level : 0);
  } else if (name == "Formatted") {
    block.setNonBreakableLines(true);
    chars.setFontFixedPitch(true);
    chars.setFontFamilies({"monospace"});
  } else if (name == "Address") {
    block.setProperty(QTextFormat::UserProperty, "Address");
    chars.setFontItalic(true);
  }
  c.setBlockFormat(block);
  QTextCursor whole = c;
  whole.select(QTextCursor::BlockUnderCursor);
  whole.mergeCharFormat(chars);
  c.mergeBlockCharFormat(chars);
  if (name == "Numbered List" || name == "Bulleted List")
    c.createList(name == "Numbered List" ? QTextListFormat::ListDecimal : QTextListFormat::ListDisc);
  c.endEditBlock();
}

HtmlEditCommands::Align HtmlEditCommands::Alignment() const {
  Qt::Alignment a = edit_->alignment();
  if (a & Qt::AlignRight) return Align::Right;
  if (a & Qt::AlignHCenter) return Align::Centre;
  return Align::Left;
}

void HtmlEditCommands::SetAlignment(Align align) {
  if (!CanEdit()) return;
  edit_->setAlignment(align == Align::Right ? Qt::AlignRight : align == Align::Centre ? Qt::AlignHCenter
                                                                                      : Qt::AlignLeft);
}

void HtmlEditCommands::Indent() {
  if (!CanEdit()) return;
  QTextCursor c = edit_->textCursor();
  QTextBlockFormat b = c.blockFormat();
  b.setLeftMargin(b.leftMargin() + kIndentStep);
  c.setBlockFormat(b);
}

void HtmlEditCommands::Outdent() {
  if (!CanEdit()) return;
  QTextCursor c = edit_->textCursor();
  QTextBlockFormat b = c.blockFormat();
  b.setLeftMargin(std::max<qreal>(0, b.leftMargin() - kIndentStep));
  if (b.leftMargin() == 0) {
    b.setRightMargin(0);
    b.setProperty(QTextFormat::BlockQuoteLevel, 0);
  }
  c.setBlockFormat(b);
}

void HtmlEditCommands::SetHyperlink(const QString& url) {
  if (!CanEdit() || url.isEmpty()) return;
  QTextCursor c = edit_->textCursor();
  if (!c.hasSelection()) {
    // Nothing selected: the address itself becomes the link text.
    QTextCharFormat f = c.charFormat();
    f.setAnchor(true);
    f.setAnchorHref(url);
    f.setFontUnderline(true);
    f.setForeground(QColor(Qt::blue));
    c.insertText(url, f);
    return;
  }
  QTextCharFormat f;
  f.setAnchor(true);
  f.setAnchorHref(url);
  f.setFontUnderline(true);
  f.setForeground(QColor(Qt::blue));
  c.mergeCharFormat(f);
}

void HtmlEditCommands::RemoveHyperlink() {
  if (!CanEdit()) return;
  QTextCursor c = edit_->textCursor();
  if (!c.hasSelection()) c.select(QTextCursor::WordUnderCursor);
  QTextCharFormat f;
  f.setAnchor(false);
  f.setAnchorHref(QString());
  f.setFontUnderline(false);
  f.setForeground(edit_->palette().text());
  c.mergeCharFormat(f);
}

bool HtmlEditCommands::InsertImage(const QString& path) {
  if (!CanEdit() || !QFileInfo(path).isFile()) return false;
  if (wrap_) {
    wrap_->InsertImage(path.toStdString());
  } else {
    std::string url = QUrl::fromLocalFile(path).toString().toStdString();
    edit_->textCursor().insertHtml(QString::fromStdString("<IMG SRC=\"" + HtmlEscape(url) + "\">"));
  }
  return true;
}

QColor HtmlEditCommands::BodyColour() const {
  QBrush b = edit_->document()->rootFrame()->frameFormat().background();
  return b.style() == Qt::NoBrush ? QColor() : b.color();
}

void HtmlEditCommands::SetBodyColour(const QColor& colour) {
  if (!CanEdit()) return;
  QTextFrameFormat f = edit_->document()->rootFrame()->frameFormat();
  if (colour.isValid())
    f.setBackground(colour);
  else
    f.clearBackground();
  edit_->document()->rootFrame()->setFrameFormat(f);
}

}  // namespace px::mailformat
