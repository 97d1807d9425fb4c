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
  RequireOpen();
  // Every field read asks this first: a product, not RecordCount's division.
  return names_->empty() || (row_ + 1) * names_->size() > cells_.size();
}

std::size_t Recordset::FieldIndex(std::string_view name) const {
  RequireOpen();
  const auto& names = *names_;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (EqualsIgnoreCase(names[i], name)) return i;
  }
  RaiseItemNotFound();
}

// The current row is checked before the field, so that a read past the end reports the missing
// row whatever field it names.
std::size_t Recordset::CellIndex(std::size_t field) const {
  if (Eof()) RaiseNoCurrentRecord();
  if (field >= names_->size()) RaiseItemNotFound();
  return row_ * names_->size() + field;
}

const Variant& Recordset::Fields(std::string_view name) const {
  if (Eof()) RaiseNoCurrentRecord();
  return cells_[CellIndex(FieldIndex(name))];
}

Variant& Recordset::Fields(std::string_view name) {
  if (Eof()) RaiseNoCurrentRecord();
  return cells_[CellIndex(FieldIndex(name))];
}

const Variant& Recordset::FieldAt(std::size_t index) const {
  return cells_[CellIndex(index)];
}

Variant& Recordset::FieldAt(std::size_t index) {
  return cells_[CellIndex(index)];
}

}  // namespace talvex
