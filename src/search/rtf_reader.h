#pragma once
// Rich text to plain text, streamed: the bytes come in pieces of any size and the text goes out
// as UTF-8 through a TextSink. Understands groups, "\'hh" in the document's code page
// (\ansicpg, \ansi, \mac, \pc, \pca), "\uN" with its \ucN replacement count, \bin data, and
// skips the destinations that hold no text of the document (font and colour tables, style
// sheets, pictures, objects, "\*" destinations). Bounded: control words are cut at 32 letters,
// numbers at 10 digits, group nesting deeper than 4096 is flattened.
#include "search/extractor.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace px::search {

class RtfDecoder {
public:
  explicit RtfDecoder(TextSink& sink);
  // False once the sink asked to stop.
  bool Feed(std::string_view bytes);
  bool Finish();

private:
  enum class State { Text, Slash, Word, Param, Hex1, Hex2, Bin };
  struct Group {
    bool skip = false;
    int uc = 1;
  };
  void Byte(unsigned char c);
  void Dispatch();
  void TextByte(unsigned char c);
  void Emit(std::string_view utf8);
  void EmitCodeUnit(uint32_t unit);
  void FlushBytes();
  void SetCodePage(int codePage);
  bool Skipping() const { return group_.skip; }

  TextSink& sink_;
  bool stopped_ = false;
  State state_ = State::Text;
  Group group_;
  std::vector<Group> stack_;
  size_t flattened_ = 0;  // groups opened beyond the nesting limit
  std::string word_;
  std::string param_;
  bool negative_ = false;
  int hex_ = 0;
  uint64_t binLeft_ = 0;
  int skipCount_ = 0;   // characters still to skip after \uN
  int codePage_ = 1252;
  uint32_t highSurrogate_ = 0;
  std::string bytes_;   // 8-bit text waiting to be decoded in the code page
  // A single-byte code page decodes through a table of its upper half; others through ICU.
  bool tableReady_ = false;
  std::array<std::string, 128> upper_;
  std::unique_ptr<StreamDecoder> multiByte_;
  std::string out_;
};

}  // namespace px::search
