// The catalog script merge: the recognised lines of one read-me taken over
// into the game's catalog script, stair lines with ids the script does not
// use yet.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

#include "common/Error.h"
#include "common/WorkingLists.h"

namespace qv {

// What the merge of one read-me came to. The merge shows no message: the run
// reads this and tells the player.
struct MergeResult {
  enum class Outcome {
    kMerged,             // the read-me's lines are in the catalog script now
    kNothingToTakeOver,  // the read-me has no line the merge takes over; script untouched
    kFailed,             // the read-me had lines to take over, and the script does not
                         // hold them: it is as it was before the merge
  };
  Outcome outcome = Outcome::kNothingToTakeOver;
  // Set exactly when the merge failed: what stopped it. Its number tells the
  // kind: 70 no rights to write (or an immutable file), 75 a read-only
  // script, 55 the file in use by another program, 61 disk full, 53 or 76 a
  // script or read-me that is not there.
  std::optional<Error> error;
  // The catalog script the merge worked on; empty when its path could not
  // be had.
  std::string catalogScript;
};

namespace catalog {

// An index of a list of ids, so that testing an id takes constant time
// however long the script. The list is only ever appended to or cleared:
// the index takes in what was appended since the last test, and starts over
// when the list got shorter.
class UsedIdIndex {
 public:
  // True when `id` is one of `ids`'s entries.
  bool Contains(const StringList& ids, const std::string& id);
  // Forgets every entry, for a list that is cleared and filled again before
  // the next test.
  void Clear() noexcept;

 private:
  std::unordered_set<std::string> index_;
  int32_t indexed_ = 0;
};

// What a merge works in: the form's lists and counter, which it leaves as a
// merge leaves them, and where its drawn ids come from.
struct MergeLists {
  StringList& lines;         // the catalog script's lines, then the read-me's taken over
  StringList& usedIds;       // the ids the catalog script uses
  UsedIdIndex& usedIdIndex;  // the index of usedIds
  TextBox& mergedCount;      // read-mes merged, as decimal text; raised when lines were taken over
  // A number uniform in [0, 1) for each drawn id; empty means a generator
  // re-seeded from the clock before every draw.
  const std::function<float()>& draw;
};

// Merges the read-me at `readMe` into the catalog script of the game that
// FindGame finds. Never raises: whatever stops the merge comes back in the
// result, with the script as it was.
[[nodiscard]] MergeResult MergeReadMe(const std::string& readMe, const MergeLists& lists);

}  // namespace catalog
}  // namespace qv
