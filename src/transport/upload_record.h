#pragma once
// The outgoing envelope (`pxmailfile`) and the upload stream of records.
//
// A record is three little-endian 32-bit lengths (compressed envelope, envelope text, file),
// then the envelope text and the part's file, each compressed as one bzip2 stream at block
// size 100 000 (level 1). The upload stream is the records of one message one after another,
// kept in a private temporary file (created exclusively, mode 0600, removed when the stream
// object goes, whatever happened); files are streamed through the compressor, so no part is
// ever held whole in memory.
#include "foundation/types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace px {
class RandomSource;
}

namespace px::transport {

// Largest part file a record can describe (its length is a 32-bit word).
inline constexpr uint64_t kMaxPartFileSize = 0xFFFFFFFFull;
// The extension of an encrypted part on the wire begins with this.
inline constexpr std::string_view kEncryptedKindPrefix = "$$$PGP$$$";

struct EnvelopeFields {
  std::string from;       // the part's From
  std::string user;       // the service user name (written as it is)
  StringList to, cc, bcc; // entries in their stored display form
  std::string date;       // mail-date form
  std::string subject;
  std::string mimeType;   // "" leaves the attribute out
  bool noTags = false;
  std::string charset;    // "" leaves the attribute out
  std::string fileName;
  std::string ext;        // lower case, without the dot
  // The identifier line: present when msgId is not empty; parts/currpart when parts > 0.
  std::string msgId;      // base (with "*" after it for per-recipient copies)
  unsigned parts = 0;
  unsigned currPart = 0;
};

// The envelope text of one copy: the header lines with the `Size` line three lines before the
// end; for a per-recipient copy (deliveredTo not empty) the "*" of the identifier becomes
// "_PGP_" + deliveredTo and the `Delivered-To` line follows the identifier line.
std::string EnvelopeText(const EnvelopeFields& fields, uint64_t fileSize, std::string_view deliveredTo = {});

// Compresses `data` at level 1 into one bzip2 stream.
std::string Bzip2Level1(std::string_view data);

class UploadStream {
public:
  UploadStream() = default;
  ~UploadStream();
  UploadStream(const UploadStream&) = delete;
  UploadStream& operator=(const UploadStream&) = delete;

  // Creates "PX" + unique token + ".tmp" in tempFolder. False with error set on failure.
  bool Create(const std::string& tempFolder, RandomSource& random, std::string* error);
  // Appends a record of the envelope text and the file at filePath, whose length must still be
  // fileSize. onBytes is told of every chunk of the file read (for progress); returning false
  // stops the packing. Returns the record's length, 0 with error set on failure.
  uint64_t AppendRecord(std::string_view envelopeText, const std::string& filePath, uint64_t fileSize,
                        std::string* error, const std::function<bool(uint64_t)>& onBytes = {});
  // Closes and removes the file (also done by the destructor).
  void Remove();

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  uint64_t Size() const { return size_; }
  const std::vector<uint64_t>& RecordLengths() const { return lengths_; }

private:
  int fd_ = -1;
  std::string path_;
  uint64_t size_ = 0;
  std::vector<uint64_t> lengths_;
};

}  // namespace px::transport
