// The process's table of worked-out message facts; see message_facts.hpp.
#include "session/message_facts.hpp"

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

}  // namespace talvex
