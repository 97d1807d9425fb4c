// The process's table of worked-out message facts; see message_facts.hpp.
#include "session/message_facts.hpp"

#include <functional>
#include <utility>

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

}  // namespace talvex
