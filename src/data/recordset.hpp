// Recordset: the rows a stored procedure returns, as the callers of the data layer read them.
// Each row holds named, nullable fields (Variants) found by name without regard to case. A
// field may be written, which changes this copy only: nothing goes back to the database. A
// default-constructed Recordset is the distinct "new, empty, unopened" one that some
// operations return on failure; reading it raises "object closed", as reading a field with no
// current row raises "no current record".
#pragma once

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

 private:
  std::size_t CellIndex(std::string_view name) const;
  void RequireOpen() const;

  FieldNames names_;
  std::vector<Variant> cells_;
  std::size_t row_ = 0;
};

}  // namespace talvex
