// MessageFacts: what the listings have worked out for messages, their sizes and unique
// identifiers, remembered for the whole server process. Working them out means reading every
// field of an item and composing its header block; a log-in that asks STAT of a hundred
// messages did that a hundred times. Remembered under the item's identifier together with a
// key, the database's digest of the fields mixed with the host name, an entry answers only
// while the fields it came from are the ones stored now: the database gives the digests of a
// drop's items in one short query, an item whose fields changed gets a new digest and is worked
// out again, and one that has gone gives no digest at all and is left out as before.
//
// A fixed table of slots, each item in the slot its identifier picks, bounds the memory: a new
// item pushes out whatever held its slot, which is then worked out again when it is next
// listed. A second, smaller table keeps the generated Message-IDs that composing the header
// blocks digests, by their input, so that RETR takes the one its message's listing worked out.
// A third keeps the drops' listings under the versions they were made under: a log-in whose lock
// takes the drop under the same version is given the same items and digests without reading
// them. Everything runs on the server's one event loop, so nothing is locked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/maildrop_store.hpp"

namespace talvex {

class MessageFacts {
 public:
  // 32768 slots of 56 bytes, taken at the first entry: a little under 2 MiB per process.
  static constexpr std::size_t kSlots = std::size_t{1} << 15;

  struct Entry {
    std::int64_t itemId = 0;  // no item has identifier 0: an unused slot matches none
    std::uint64_t key = 0;
    std::int64_t size = -1;  // octets on the wire; -1 until worked out
    std::string uniqueId{};  // empty until worked out (an identifier never is)
  };

  // The item's entry while it was made under `key`, or nullptr.
  const Entry* Find(std::int64_t itemId, std::uint64_t key) const;
  // The item's entry under `key`, emptied first when the slot held anything else.
  Entry& Take(std::int64_t itemId, std::uint64_t key);

  // The identifier of a generated Message-ID as worked out from `input` (what the identifier
  // digests: an item's date, sender and recipient run together), or nullptr. The listing works
  // it out for a message's size and RETR again for its header. Entries are found by a 64-bit
  // digest of the input and its length in a table of kIdSlots: another input with both the same
  // (a chance of 2^-64) would be given this identifier.
  const std::string* FindMessageId(std::string_view input) const;
  void KeepMessageId(std::string_view input, std::string id);
  // 8192 slots of 48 bytes and their identifiers, taken at the first entry: about 650 KiB.
  static constexpr std::size_t kIdSlots = std::size_t{1} << 13;

  // The listing of the drop of `address` (its case aside) made under `version`, or nullptr.
  const data::DropListing* FindListing(std::string_view address, std::int64_t version) const;
  // Keeps a listing made under the version in `listing.changes`, in the place of whatever
  // listing of another drop held its slot; one that would take the listings' items past
  // kListedItems is not kept.
  void KeepListing(std::string_view address, const data::DropListing& listing);
  // 1024 slots of drops, with at most 2^18 items among them (16 bytes each): at most about
  // 4 MiB, taken as listings come.
  static constexpr std::size_t kListingSlots = std::size_t{1} << 10;
  static constexpr std::size_t kListedItems = std::size_t{1} << 18;

 private:
  struct IdEntry {
    std::uint64_t digest = 0;
    std::size_t length = 0;
    std::string id;  // empty in an unused slot
  };

  static std::size_t SlotOf(std::int64_t itemId) {
    return static_cast<std::size_t>(itemId) & (kSlots - 1);
  }

  struct ListingEntry {
    std::string address;  // upper-cased; empty in an unused slot
    data::DropListing listing;
  };
  // The slot of an upper-cased address.
  static std::size_t ListingSlotOf(std::string_view address);

  std::vector<Entry> slots_;
  std::vector<IdEntry> ids_;
  std::vector<ListingEntry> listings_;
  std::size_t listedItems_ = 0;  // in all of listings_
};

}  // namespace talvex
