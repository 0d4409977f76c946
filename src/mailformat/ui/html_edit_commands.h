#pragma once
// The editing commands of the HTML editor over a QTextEdit: character formatting, paragraph
// formats, alignment, indentation, links, pictures and the page colour. The compose window binds
// its buttons and lists to these; dialogs (font, link, picture) are its own.
#include <QColor>
#include <QString>
#include <QStringList>

class QTextEdit;

namespace px::mailformat {

class TDHTMLEditWrap;

class HtmlEditCommands {
public:
  enum class Align { Left, Centre, Right };

  // `wrap` (optional) learns about inserted pictures, so that saving embeds them.
  explicit HtmlEditCommands(QTextEdit* edit, TDHTMLEditWrap* wrap = nullptr);

  bool CanEdit() const;  // commands do nothing on a read-only editor
  void Delete();

  QString FontName() const;
  void SetFontName(const QString& family);
  int FontSize() const;  // points
  void SetFontSize(int points);
  QColor TextColour() const;
  void SetTextColour(const QColor& colour);

  bool IsBold() const;
  bool IsItalic() const;
  bool IsUnderline() const;
  void Bold();  // toggles, on the selection or the word at the caret
  void Italic();
  void Underline();

  // "Normal", "Formatted", "Address", "Heading 1" ... "Heading 6", "Numbered List", "Bulleted List".
  static QStringList ParagraphFormatNames();
  QString ParagraphFormat() const;
  void SetParagraphFormat(const QString& name);

  Align Alignment() const;
  void SetAlignment(Align align);
  void Indent();
  void Outdent();

  void SetHyperlink(const QString& url);  // on the selection
  void RemoveHyperlink();
  bool InsertImage(const QString& path);

  QColor BodyColour() const;  // invalid when the page has none
  void SetBodyColour(const QColor& colour);

private:
  QTextEdit* edit_;
  TDHTMLEditWrap* wrap_;
};

}  // namespace px::mailformat
