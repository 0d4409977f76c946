#pragma once
// Marks of the program's runs, so a run knows whether an earlier one was stopped half-way.
//
// Every run that writes into the documents, the spool or the contacts (the desk, each
// plumadex-cli command) leaves a mark in the data root's "Runs/" folder while it lasts, named
// after its process id and the process's start time, and removes it when it ends normally. A
// mark whose process is gone belongs to a run that was killed or crashed: the first run that
// finds it turns it into "stopped-<seconds>" (the time it was found), and the start-up sweep
// runs for as long as such a note exists. A note goes once a sweep has run at least
// kLeftoverAgeSeconds after it was found, because the sweep leaves younger files alone.
// A data root without the folder (a first run, or one of an older version) counts as stopped.
#include <ctime>
#include <string>

namespace px::store {

// How old an untouched temporary or parked file must be before the sweep takes it.
inline constexpr time_t kLeftoverAgeSeconds = 600;

class RunMark {
public:
  // Places this run's mark in `dataRoot` + "Runs/" and looks for the marks of stopped runs.
  // `now` is the run's start.
  RunMark(const std::string& dataRoot, time_t now);
  // Removes this run's mark: the run ended normally.
  ~RunMark();
  RunMark(const RunMark&) = delete;
  RunMark& operator=(const RunMark&) = delete;

  // An earlier run stopped without finishing, and what it left may still be lying about.
  bool SweepNeeded() const { return sweepNeeded_; }
  // Called after a sweep that started at `sweepStart`: drops the notes it fully covered.
  void Swept(time_t sweepStart);

private:
  std::string folder_;
  std::string own_;  // this run's mark ("" when it could not be placed)
  bool sweepNeeded_ = false;
};

// The start time of process `pid` in clock ticks since boot (field 22 of /proc/PID/stat), or
// -1 when there is no such process.
long long ProcessStartTicks(long pid);

}  // namespace px::store
