#pragma once
// Shared test helpers: a private PLUMADEX_HOME per test and small file utilities.
#include <QEventLoop>
#include <QObject>
#include <QTemporaryDir>
#include <string>

namespace px::test {

// A temporary home: sets PLUMADEX_HOME to a fresh folder for the life of the object,
// so no test ever touches the real home. root() ends in "/".
class TempHome {
public:
  TempHome();
  ~TempHome();
  std::string root() const;                      // the temporary folder, with "/"
  std::string path(const std::string& rel) const; // root() + rel
private:
  QTemporaryDir dir_;
  QByteArray oldHome_;
  bool hadHome_ = false;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
void makeDirs(const std::string& path);

// Runs the test's event loop until sender emits signal, unless running() says it is over
// already. (The program never waits this way: its windows react to the signal.)
template <typename Sender, typename Signal, typename Running>
void RunUntilSignal(Sender* sender, Signal signal, Running running) {
  if (!running()) return;
  QEventLoop loop;
  QObject::connect(sender, signal, &loop, &QEventLoop::quit, Qt::QueuedConnection);
  loop.exec();
}

}  // namespace px::test
