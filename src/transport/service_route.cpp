#include "transport/service_route.h"

#include "foundation/dates.h"
#include "mailformat/message_id.h"
#include "store/doc_record.h"
#include "transport/crypto_seam.h"
#include "transport/outgoing.h"
#include "transport/service_protocol.h"
#include "transport/upload_record.h"

#include <QMimeDatabase>

#include <unistd.h>

namespace px::transport {

std::string ContentTypeOf(std::string_view ext) {
  if (ext.empty()) return {};
  static const QMimeDatabase db;
  const QMimeType t = db.mimeTypeForFile("x." + QString::fromUtf8(ext.data(), static_cast<int>(ext.size())),
                                         QMimeDatabase::MatchExtension);
  if (!t.isValid() || t.isDefault()) return {};
  return t.name().toStdString();
}

ServiceRoute::ServiceRoute(ServiceRouteSettings settings, RandomSource& random, Crypto& crypto)
    : settings_(std::move(settings)), random_(random), crypto_(crypto), client_(settings_.http) {
  client_.SetBasicAuth(settings_.user, settings_.password);
}

RouteOutcome ServiceRoute::Deliver(const OutgoingMessage& m, const Progress& progress) {
  RouteOutcome out;
  UploadStream stream;
  std::string error;
  if (!stream.Create(settings_.tempFolder, random_, &error)) {
    out.code = teCommunication;
    out.text = error;
    return out;
  }
  uint64_t done = 0;
  auto onBytes = [&](uint64_t n) {
    done += n;
    return !progress || progress(done / 2);  // packing is the first half of the work
  };
  const std::string date = FormatMailDate(NowDateTime());
  for (size_t i = 0; i < m.parts.size(); ++i) {
    const OutgoingPart& p = m.parts[i];
    EnvelopeFields f;
    f.from = p.from.empty() ? settings_.ownFromAddress : p.from;
    f.user = settings_.user;
    f.to = m.to;
    f.cc = m.ccList;
    f.bcc = m.bccList;
    f.date = date;
    std::string ext = store::ExtensionOf(p.fileName);
    for (auto& c : ext)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    f.subject = p.title.empty() ? store::StripExtension(p.fileName) : p.title;
    f.mimeType = ContentTypeOf(ext);
    f.noTags = settings_.noTags;
    f.charset = p.charset;
    f.fileName = p.fileName;
    f.ext = ext;
    if (!p.msgId.empty()) {
      const mailformat::MessageId id = mailformat::ParseMessageId(p.msgId);
      f.msgId = id.base;
      if (id.total) {
        f.parts = id.total;
        f.currPart = id.part;
      }
    }
    // Encrypted copies need the PGP bridge; such messages are held back before they get here.
    const std::string text = EnvelopeText(f, p.fileSize);
    if (!stream.AppendRecord(text, p.filePath, p.fileSize, &error, onBytes)) {
      out.code = teCommunication;
      out.text = error;
      return out;
    }
  }
  const uint64_t size = stream.Size();
  ::lseek(stream.Fd(), 0, SEEK_SET);
  const uint64_t packed = done / 2;
  client_.SetProgress([&](int64_t sent, int64_t, int64_t, int64_t) {
    const uint64_t share = size ? static_cast<uint64_t>(sent) * (done - packed) / size : 0;
    return !progress || progress(packed + share);
  });
  const HttpResult r = client_.PostStream(ServiceUrl(settings_.host, PutMailPath(stream.RecordLengths())),
                                          stream.Fd(), static_cast<int64_t>(size));
  client_.SetProgress({});
  if (!r.Ok()) {
    out.code = ErrorCodeOf(r, teCommunication);
    out.text = r.error;
    return out;
  }
  if (!UploadAccepted(r.body, size)) {
    out.code = teCommunication;
    out.text = "The server did not confirm the whole upload.";
    return out;
  }
  out.accepted = true;
  return out;
}

}  // namespace px::transport
