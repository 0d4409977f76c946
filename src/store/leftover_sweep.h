#pragma once
// What a crash may leave in the document folders, and the sweep at start-up that clears it.
//
// A deleted document is first parked under a hidden name in its folder (".px-deleted-<id>-<name>")
// and unlinked once its index is saved. Files are written through hidden temporaries
// (".px-tmp-<random>", see AtomicFile). After a crash the sweep puts a parked document back when
// its folder's index still names it and its name is free, removes the other parked files, and
// removes temporaries. Only files untouched for ten minutes before the run are taken: a newer
// one may belong to another process that is running now.
#include <ctime>
#include <string>
#include <string_view>

namespace px {
struct Locations;
}

namespace px::store {

class IniRegistry;
class RunMark;

inline constexpr std::string_view kParkedPrefix = ".px-deleted-";

// Hidden name of a parked document. A name too long to carry along is left out: such a parked
// file is never thrown away by the sweep.
std::string ParkedName(std::string_view name, std::string_view id);

struct SweepResult {
  size_t restored = 0;  // parked documents put back
  size_t removed = 0;   // leftovers removed
  size_t kept = 0;      // parked files whose document could not be named
};

// Walks `root` and its subfolders (never following links) and clears what a crash left.
SweepResult SweepLeftovers(const std::string& root, IniRegistry& registry, time_t runStart);
// The sweep of every tree the program writes into: the documents, the mail spool (Inbox) and
// the contacts.
SweepResult SweepAllLeftovers(const Locations& loc, IniRegistry& registry, time_t runStart);
// SweepAllLeftovers when `mark` says an earlier run stopped half-way, else nothing: a run after
// runs that all ended well does not walk the trees.
SweepResult SweepAfterStoppedRuns(const Locations& loc, IniRegistry& registry, RunMark& mark, time_t runStart);

}  // namespace px::store
