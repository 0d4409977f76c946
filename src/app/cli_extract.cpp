// plumadex-cli extract: prints the plain text of a message as the search and the viewer see it:
// its first plain-text part, or, for a message that has only HTML, the text of that HTML.
#include "app/cli_commands.h"

#include <cstdio>

#include <QTemporaryDir>

#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_reader.h"
#include "mailformat/text_extract.h"

namespace px::cli {

int runExtract(const Args& args) {
  if (args.size() != 1) {
    PrintErr("usage: plumadex-cli extract MESSAGE\n");
    return 2;
  }
  std::vector<std::string> lines;
  mailformat::EmlText t = mailformat::ExtractEmlText(args[0]);
  if (t.found) {
    if (!t.charset.empty()) PrintErr("Charset: %s\n", t.charset.c_str());
    lines = std::move(t.lines);
  } else {
    // Pictures the reader extracts on the way go to a folder removed on return.
    QTemporaryDir temp;
    RandomSource random;
    mailformat::MhtmlDocument doc;
    if (!temp.isValid() ||
        !mailformat::ReadMhtmlFile(args[0], temp.path().toStdString() + "/", random, doc) ||
        doc.html.empty()) {
      PrintErr("plumadex-cli extract: %s has no text\n", args[0].c_str());
      return 1;
    }
    PrintErr("Charset: UTF-8\n");
    lines = mailformat::HtmlToText(doc.html, "UTF-8").lines;
  }
  for (const auto& l : lines) {
    std::fwrite(l.data(), 1, l.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}

}  // namespace px::cli
