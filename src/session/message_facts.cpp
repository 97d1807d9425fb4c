// The process's table of worked-out message facts; see message_facts.hpp.
#include "session/message_facts.hpp"

#include <functional>
#include <utility>

#include "platform/ascii.hpp"

namespace talvex {

const MessageFacts::Entry* MessageFacts::Find(std::int64_t itemId, std::uint64_t key) const {
  if (slots_.empty()) return nullptr;
  const Entry& entry = slots_[SlotOf(itemId)];
  return entry.itemId == itemId && entry.key == key ? &entry : nullptr;
}

MessageFacts::Entry& MessageFacts::Take(std::int64_t itemId, std::uint64_t key) {
  if (slots_.empty()) slots_.resize(kSlots);
  Entry& entry = slots_[SlotOf(itemId)];
  if (entry.itemId != itemId || entry.key != key) entry = Entry{itemId, key};
  return entry;
}

namespace {

std::uint64_t InputDigest(std::string_view input) {
  return std::hash<std::string_view>{}(input);
}

}  // namespace

const std::string* MessageFacts::FindMessageId(std::string_view input) const {
  if (ids_.empty()) return nullptr;
  const std::uint64_t digest = InputDigest(input);
  const IdEntry& entry = ids_[digest & (kIdSlots - 1)];
  if (entry.id.empty() || entry.digest != digest || entry.length != input.size()) return nullptr;
  return &entry.id;
}

void MessageFacts::KeepMessageId(std::string_view input, std::string id) {
  if (ids_.empty()) ids_.resize(kIdSlots);
  const std::uint64_t digest = InputDigest(input);
  ids_[digest & (kIdSlots - 1)] = IdEntry{digest, input.size(), std::move(id)};
}

std::size_t MessageFacts::ListingSlotOf(std::string_view address) {
  return InputDigest(address) & (kListingSlots - 1);
}

// The drop is the items addressed to `address` without regard to ASCII case, as the database
// compares it, so one listing serves every spelling.
const data::DropListing* MessageFacts::FindListing(std::string_view address,
                                                   std::int64_t version) const {
  if (listings_.empty()) return nullptr;
  const std::string folded = ToUpper(address);
  const ListingEntry& entry = listings_[ListingSlotOf(folded)];
  if (entry.address != folded || entry.listing.changes != version) return nullptr;
  return &entry.listing;
}

void MessageFacts::KeepListing(std::string_view address, const data::DropListing& listing) {
  if (!listing.changes || listing.digests.size() != listing.ids.size()) return;
  if (listings_.empty()) listings_.resize(kListingSlots);
  std::string folded = ToUpper(address);
  ListingEntry& entry = listings_[ListingSlotOf(folded)];
  const std::size_t others = listedItems_ - entry.listing.ids.size();
  if (others + listing.ids.size() > kListedItems) return;
  entry = ListingEntry{std::move(folded), listing};
  listedItems_ = others + listing.ids.size();
}

}  // namespace talvex
