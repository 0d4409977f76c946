#include "support/test_support.h"

#include <QDir>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace px::test {

TempHome::TempHome() {
  hadHome_ = qEnvironmentVariableIsSet("PLUMADEX_HOME");
  oldHome_ = qgetenv("PLUMADEX_HOME");
  qputenv("PLUMADEX_HOME", dir_.path().toUtf8());
}

TempHome::~TempHome() {
  if (hadHome_) qputenv("PLUMADEX_HOME", oldHome_);
  else qunsetenv("PLUMADEX_HOME");
}

std::string TempHome::root() const { return dir_.path().toStdString() + "/"; }
std::string TempHome::path(const std::string& rel) const { return root() + rel; }

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void makeDirs(const std::string& path) { QDir().mkpath(QString::fromStdString(path)); }

}  // namespace px::test
