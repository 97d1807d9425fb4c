// Maintenance of the embedded database while servers keep using it: an online copy that is
// verified before it takes the target's name, and the engine's integrity check.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talvex::data {

struct CopyProgress {
  int pagesCopied = 0;
  int pageCount = 0;
};

// Copies the database file `source` to `target`, some pages at a time, calling `progress`
// after each step. The copy is one consistent state of the source, taken at the start; the
// source's writers go on meanwhile. It is written beside the target, checked, and only then
// renamed to the target, so that a failed copy never replaces an earlier one. The copy holds
// no mail-drop locks: the sessions that held them never reach it. Raises
// sqlite::Error when the source cannot be read, the copy cannot be written, or the copy fails
// its check.
void CopyDatabase(const std::filesystem::path& source, const std::filesystem::path& target,
                  const std::function<void(const CopyProgress&)>& progress);

// The problems the engine's integrity check finds in the database file (at most 100), or the
// damage that stopped the check; empty when there is none. Raises sqlite::Error when the file
// cannot be opened.
std::vector<std::string> CheckDatabase(const std::filesystem::path& file);

// A database file deleted while servers used it leaves its write-ahead log and the log's index
// behind. Opening the path then would start from those pages of the lost file, so the embedded
// backend refuses it; this names the log when the file is missing and the log is there.
std::optional<std::filesystem::path> OrphanedJournal(const std::filesystem::path& file);

// Removes that log and its index, so that the next opener starts a new, empty database; true
// when there was one.
bool DiscardOrphanedJournal(const std::filesystem::path& file);

}  // namespace talvex::data
