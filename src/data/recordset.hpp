// Recordset: the rows a stored procedure returns, as the callers of the data layer read them.
// Each row holds named, nullable fields (Variants) found by name without regard to case. A
// field may be written, which changes this copy only: nothing goes back to the database. A
// default-constructed Recordset is the distinct "new, empty, unopened" one that some
// operations return on failure; reading it raises "object closed", as reading a field with no
// current row raises "no current record".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.hpp"

namespace talvex {

// Source of the failures of record-set use (numbers ErrorNumber::kNoCurrentRecord,
// kItemNotFound, kObjectClosed), the name that callers know them by.
inline constexpr std::string_view kRecordsetSource = "ADODB.Recordset";

class Recordset {
 public:
  // Field names are shared by every record set of one prepared query.
  using FieldNames = std::shared_ptr<const std::vector<std::string>>;

  Recordset() = default;
  // An open record set over `cells` (row by row, names->size() per row), on its first row.
  Recordset(FieldNames names, std::vector<Variant> cells);

  bool IsOpen() const { return names_ != nullptr; }
  std::int32_t RecordCount() const;
  void MoveFirst();
  void MoveNext();
  // True past the last row (and at once when there is none). Not named EOF: that is a macro
  // of the C library.
  bool Eof() const;

  const Variant& Fields(std::string_view name) const;
  Variant& Fields(std::string_view name);
  // The field of the current row by its position, from 0 ("the first field" of a row).
  const Variant& FieldAt(std::size_t index) const;
  Variant& FieldAt(std::size_t index);

  // The position of the field `name` (without regard to case) in every row, for FieldAt: a
  // reader of many rows compares names once instead of at every read. Needs no current row;
  // raises "item not found" for a name the record set lacks, as Fields does.
  std::size_t FieldIndex(std::string_view name) const;
  // The field list, one object for every record set of one prepared query: positions found in
  // one of them hold in all the others.
  const FieldNames& Names() const { return names_; }

 private:
  std::size_t CellIndex(std::size_t field) const;
  void RequireOpen() const;

  FieldNames names_;
  std::vector<Variant> cells_;
  std::size_t row_ = 0;
};

// The positions of a fixed set of field names, found in the field list of the record sets read
// and kept for as long as they share that list. A reader of every result of one query thus
// compares names at its first result only, where a lookup by name would compare them at every
// field of every result.
template <std::size_t N>
class FieldPositions {
 public:
  explicit FieldPositions(const std::array<std::string_view, N>& names) : names_(names) {}

  // The positions of the names in `rows`, in the order given. Raises as FieldIndex does; a
  // failed lookup keeps nothing, so the next call fails alike.
  const std::array<std::size_t, N>& In(const Recordset& rows) {
    // The list is held, not only compared by address: a freed list's address may be reused.
    if (!resolvedFor_ || rows.Names() != resolvedFor_) {
      std::array<std::size_t, N> positions{};
      for (std::size_t i = 0; i < N; ++i) positions[i] = rows.FieldIndex(names_[i]);
      positions_ = positions;
      resolvedFor_ = rows.Names();
    }
    return positions_;
  }

 private:
  std::array<std::string_view, N> names_;
  std::array<std::size_t, N> positions_{};
  Recordset::FieldNames resolvedFor_;
};

}  // namespace talvex
