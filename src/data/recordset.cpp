// Record-set navigation and field access.
#include "data/recordset.hpp"

#include "platform/ascii.hpp"
#include "platform/failure.hpp"

namespace talvex {

namespace {

[[noreturn]] void RaiseRecordset(ErrorNumber number, std::string description) {
  throw Failure(std::string(kRecordsetSource), number, std::move(description));
}

[[noreturn]] void RaiseNoCurrentRecord() {
  RaiseRecordset(ErrorNumber::kNoCurrentRecord,
                 "Either BOF or EOF is True, or the current record has been deleted. "
                 "Requested operation requires a current record.");
}

[[noreturn]] void RaiseItemNotFound() {
  RaiseRecordset(ErrorNumber::kItemNotFound,
                 "Item cannot be found in the collection corresponding to the requested name "
                 "or ordinal.");
}

}  // namespace

Recordset::Recordset(FieldNames names, std::vector<Variant> cells)
    : names_(std::move(names)), cells_(std::move(cells)) {}

void Recordset::RequireOpen() const {
  if (!IsOpen()) {
    RaiseRecordset(ErrorNumber::kObjectClosed,
                   "Operation is not allowed when the object is closed.");
  }
}

std::int32_t Recordset::RecordCount() const {
  RequireOpen();
  return names_->empty() ? 0 : static_cast<std::int32_t>(cells_.size() / names_->size());
}

void Recordset::MoveFirst() {
  RequireOpen();
  row_ = 0;
}

void Recordset::MoveNext() {
  if (Eof()) RaiseNoCurrentRecord();
  ++row_;
}

bool Recordset::Eof() const {
  return row_ >= static_cast<std::size_t>(RecordCount());
}

std::size_t Recordset::CellIndex(std::string_view name) const {
  if (Eof()) RaiseNoCurrentRecord();
  const auto& names = *names_;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (EqualsIgnoreCase(names[i], name)) return row_ * names.size() + i;
  }
  RaiseItemNotFound();
}

const Variant& Recordset::Fields(std::string_view name) const {
  return cells_[CellIndex(name)];
}

Variant& Recordset::Fields(std::string_view name) {
  return cells_[CellIndex(name)];
}

const Variant& Recordset::FieldAt(std::size_t index) const {
  if (Eof()) RaiseNoCurrentRecord();
  if (index >= names_->size()) RaiseItemNotFound();
  return cells_[row_ * names_->size() + index];
}

}  // namespace talvex
