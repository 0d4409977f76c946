#include "desk/quickboard_ranking.h"

#include "foundation/text_case.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <set>

namespace px::desk {

namespace {

constexpr std::string_view kUsualTypes =
    ".txt,.doc,.xls,.wp,.zip,.jpg,.gif,.ppt,.bmp,.wri,.tif,.wpd,.arj,.pdf,.mpp,.rtf,.pic,.png,.aiff,.gz,.arc,.dxf,"
    ".ps,.tex,.wp51,.odt,.ods,.odp";

std::string ExtOf(const QString& fileName) {
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  return suffix.isEmpty() ? std::string() : "." + suffix.toStdString();
}

void CountFolder(const std::string& folder, std::map<std::string, int>& out, int limit) {
  if (folder.empty()) return;
  QDirIterator it(QString::fromStdString(folder), QDir::Files | QDir::NoDotAndDotDot);
  for (int n = 0; it.hasNext() && n < limit; ++n) {
    it.next();
    if (it.fileName().startsWith(QLatin1Char('.'))) continue;
    const std::string ext = ExtOf(it.fileName());
    if (!ext.empty()) ++out[ext];
  }
}

}  // namespace

std::vector<std::string> RankTemplates(const std::vector<std::string>& templateExts, const TemplateEvidence& e) {
  auto has = [](const std::map<std::string, int>& m, const std::string& ext) {
    auto it = m.find(ext);
    return it != m.end() && it->second > 0;
  };
  std::vector<std::pair<int, std::string>> scored;
  for (const std::string& raw : templateExts) {
    std::string ext = raw;
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    const int score = (has(e.inDocuments, ext) ? 10 : 0) + (has(e.inRecent, ext) ? 10 : 0) +
                      (has(e.onDesktop, ext) ? 5 : 0) + (has(e.programLaunchers, ext) ? 5 : 0);
    if (score > 10) scored.emplace_back(score, raw);
  }
  std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> out;
  for (const auto& [score, ext] : scored)
    if (out.size() < kWizardCandidates) out.push_back(ext);
  if (out.size() < kWizardCandidates) {
    size_t start = 0;
    while (start < kUsualTypes.size() && out.size() < kWizardCandidates) {
      size_t comma = kUsualTypes.find(',', start);
      if (comma == std::string_view::npos) comma = kUsualTypes.size();
      const std::string_view usual = kUsualTypes.substr(start, comma - start);
      start = comma + 1;
      auto tmpl = std::find_if(templateExts.begin(), templateExts.end(),
                               [&](const std::string& t) { return SameText(t, usual); });
      if (tmpl == templateExts.end()) continue;
      if (std::find(out.begin(), out.end(), *tmpl) == out.end()) out.push_back(*tmpl);
    }
  }
  if (out.empty()) out.push_back(".txt");
  return out;
}

std::vector<std::string> ReadRecentlyUsed(std::string_view xbel, size_t limit) {
  std::vector<std::string> out;
  QXmlStreamReader xml(QByteArray(xbel.data(), static_cast<qsizetype>(xbel.size())));
  while (!xml.atEnd() && out.size() < limit) {
    if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("bookmark")) continue;
    const QUrl url(xml.attributes().value(QLatin1String("href")).toString());
    if (url.isLocalFile()) out.push_back(url.toLocalFile().toStdString());
  }
  return out;
}

TemplateEvidence GatherTemplateEvidence(const std::string& documentsFolder, const std::string& desktopFolder,
                                        const std::string& recentlyUsedXbel) {
  TemplateEvidence e;
  CountFolder(documentsFolder, e.inDocuments, 20000);
  CountFolder(desktopFolder, e.onDesktop, 2000);
  QFile xbel(QString::fromStdString(recentlyUsedXbel));
  if (!recentlyUsedXbel.empty() && xbel.open(QIODevice::ReadOnly)) {
    const QByteArray text = xbel.read(8 << 20);
    for (const std::string& path : ReadRecentlyUsed(std::string_view(text.constData(), static_cast<size_t>(text.size()))))
      if (const std::string ext = ExtOf(QString::fromStdString(path)); !ext.empty()) ++e.inRecent[ext];
  }
  return e;
}

std::vector<std::string> PickPrograms(const std::vector<ProgramCandidate>& found) {
  std::vector<std::string> out;
  for (const ProgramCandidate& p : found) {
    if (p.email) continue;
    const QString file = QFileInfo(QString::fromStdString(p.path)).fileName().toLower();
    if (file.contains(QLatin1String("plumadex"))) continue;
    if (out.size() < kWizardCandidates) out.push_back(p.path);
  }
  return out;
}

std::vector<std::string> RankPeople(const std::map<std::string, int>& counts,
                                    const std::function<bool(const std::string&)>& known) {
  std::vector<std::pair<int, std::string>> kept;
  for (const auto& [key, n] : counts)
    if (n > 0 && (!known || known(key))) kept.emplace_back(n, key);
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> out;
  for (const auto& [n, key] : kept)
    if (out.size() < kWizardCandidates) out.push_back(key);
  return out;
}

}  // namespace px::desk
