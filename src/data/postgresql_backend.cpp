// The PostgreSQL backend. Each procedure of the catalog is installed as a function whose
// parameters are named "@Name" after the callers' names and whose rows carry the same field
// names as on SQLite. At connection time one query reads every function's parameter names from
// the system catalog; a call then matches the given parameters to them by name, as the SQLite
// backend does, and runs SELECT over the function with the values as text parameters, which
// the server converts to the declared types.
//
// A procedure's own refusal (RAISE EXCEPTION, SQLSTATE P0001) becomes a failure with
// ErrorNumber::kDbCommand and its message; every other failure is the provider's. A lost
// connection is dropped, so that the next call opens a new one.
#include "data/postgresql_backend.hpp"

#include <charconv>
#include <map>
#include <optional>
#include <vector>

#include "data/data_errors.hpp"
#include "data/postgresql_connection.hpp"
#include "data/postgresql_setup.hpp"
#include "data/sql_catalog.hpp"
#include "platform/ascii.hpp"

namespace talvex::data {

namespace {

constexpr std::string_view kEvaluateSql = "SMS_EvaluateSQL";
constexpr std::string_view kSqlStringParameter = "SQLString";

// Every function of the connection's schema: whether it returns rows, and the names of its
// input parameters in order, joined by commas.
constexpr std::string_view kSignaturesQuery =
    "SELECT p.proname::text, (p.prorettype <> 'void'::regtype)::text, "
    "       coalesce(array_to_string(p.proargnames[1:p.pronargs], ','), '') "
    "  FROM pg_proc AS p "
    " WHERE p.pronamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema())";

// How a call of an installed function is written, and its parameters as the callers name them.
struct Signature {
  std::string call;
  std::vector<std::string> parameters;
  bool returnsRows = false;
};

// Column types whose values come back as numbers, by type OID; every other type comes back as
// text. Booleans become 0 and 1, as the embedded database has no Boolean.
enum class Kind { kInteger, kReal, kBoolean, kText };
struct TypeKind {
  Oid type;
  Kind kind;
};
constexpr TypeKind kTypeKinds[] = {
    {16, Kind::kBoolean},  // bool
    {20, Kind::kInteger},  // int8
    {21, Kind::kInteger},  // int2
    {23, Kind::kInteger},  // int4
    {26, Kind::kInteger},  // oid
    {700, Kind::kReal},    // float4
    {701, Kind::kReal},    // float8
    {1700, Kind::kReal},   // numeric
};

Kind KindOf(Oid type) {
  for (const TypeKind& known : kTypeKinds) {
    if (known.type == type) return known.kind;
  }
  return Kind::kText;
}

Variant CellValue(std::string_view text, Kind kind) {
  switch (kind) {
    case Kind::kInteger: {
      std::int64_t value = 0;
      std::from_chars(text.data(), text.data() + text.size(), value);
      return Variant(value);
    }
    case Kind::kReal:
      return Variant(std::stod(std::string(text)));
    case Kind::kBoolean:
      return Variant(std::int64_t{text == "t" ? 1 : 0});
    case Kind::kText:
      break;
  }
  return Variant(std::string(text));
}

std::string CurrencyText(Currency value) {
  const bool negative = value.tenThousandths < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.tenThousandths)
                                           : static_cast<std::uint64_t>(value.tenThousandths);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  std::string text = negative ? "-" : "";
  text.append(std::to_string(magnitude / 10000)).append(".").append(fraction);
  return text;
}

pg::Parameter ParameterText(const BoundValue& value) {
  struct Texts {
    pg::Parameter operator()(std::monostate) const { return std::nullopt; }
    pg::Parameter operator()(std::int64_t v) const { return std::to_string(v); }
    pg::Parameter operator()(const Currency& v) const { return CurrencyText(v); }
    pg::Parameter operator()(const Timestamp& v) const { return v.text; }
    pg::Parameter operator()(const std::string& v) const { return v; }
  };
  return std::visit(Texts{}, value);
}

Recordset Rows(const pg::Result& result) {
  std::vector<std::string> names;
  std::vector<Kind> kinds;
  for (int c = 0; c < result.Columns(); ++c) {
    names.emplace_back(result.ColumnName(c));
    kinds.push_back(KindOf(result.ColumnType(c)));
  }
  std::vector<Variant> cells;
  cells.reserve(static_cast<std::size_t>(result.Rows()) * names.size());
  for (int r = 0; r < result.Rows(); ++r) {
    for (int c = 0; c < result.Columns(); ++c) {
      cells.push_back(result.IsNull(r, c)
                          ? Variant::Null()
                          : CellValue(result.Value(r, c), kinds[static_cast<std::size_t>(c)]));
    }
  }
  return Recordset(std::make_shared<const std::vector<std::string>>(std::move(names)),
                   std::move(cells));
}

std::string QuotedIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

Signature MakeSignature(std::string_view name, bool returnsRows, std::string_view argumentNames) {
  Signature signature{returnsRows ? "SELECT * FROM " : "SELECT ", {}, returnsRows};
  signature.call.append(QuotedIdentifier(name)).append("(");
  for (std::size_t at = 0; !argumentNames.empty() && at <= argumentNames.size();) {
    const std::size_t end = std::min(argumentNames.find(',', at), argumentNames.size());
    std::string_view parameter = argumentNames.substr(at, end - at);
    if (parameter.starts_with('@')) parameter.remove_prefix(1);
    signature.parameters.emplace_back(parameter);
    if (signature.parameters.size() > 1) signature.call.append(", ");
    signature.call.append("$").append(std::to_string(signature.parameters.size()));
    at = end + 1;
  }
  signature.call.append(")");
  return signature;
}

class PostgresqlBackend final : public Backend {
 public:
  explicit PostgresqlBackend(std::string uri) : uri_(std::move(uri)) {}

  Recordset Run(std::string_view name, std::span<const BoundParameter> parameters,
                bool rows) override {
    try {
      if (!connection_ || !connection_->IsOpen()) Open();
      if (name == kEvaluateSql) return EvaluateSql(parameters, rows);
      const Signature& signature = SignatureOf(name);
      const auto values = Match(name, signature, parameters);
      const pg::Result result = connection_->Execute(signature.call, values);
      if (!rows) return {};
      if (!signature.returnsRows) {
        return Recordset(std::make_shared<const std::vector<std::string>>(), {});
      }
      return Rows(result);
    } catch (const pg::Error& error) {
      if (error.SqlState() == pg::kRaiseException) {
        Raise(ErrorNumber::kDbCommand, std::string(name) + ": " + error.what());
      }
      Raise(ErrorNumber::kDbProvider, std::string(name) + ": " + error.what());
    }
  }

 private:
  // Opens and prepares a connection, or leaves none when any step fails, so that the next
  // call tries again. The text of the URI is never repeated: it may hold a password.
  void Open() {
    connection_.reset();
    signatures_.clear();
    try {
      pg::Connection connection(uri_);
      PreparePostgresqlConnection(connection);
      LoadSignatures(connection);
      connection_.emplace(std::move(connection));
    } catch (const pg::Error& error) {
      signatures_.clear();
      throw pg::Error(error.SqlState(), std::string("PostgreSQL: ") + error.what());
    }
  }

  void LoadSignatures(pg::Connection& connection) {
    const pg::Result functions = connection.Execute(kSignaturesQuery);
    for (int r = 0; r < functions.Rows(); ++r) {
      const std::string_view name = functions.Value(r, 0);
      signatures_.emplace(std::string(name), MakeSignature(name, functions.Value(r, 1) == "true",
                                                           functions.Value(r, 2)));
    }
  }

  const Signature& SignatureOf(std::string_view name) const {
    const auto found = signatures_.find(name);
    if (!SqlCatalog::Postgresql().Procedure(name) || found == signatures_.end()) {
      Raise(ErrorNumber::kDbCommand, "Could not find stored procedure '" + std::string(name) + "'");
    }
    return found->second;
  }

  // The value of each of the function's parameters, in its order: every one must be given,
  // once, and no other.
  static std::vector<pg::Parameter> Match(std::string_view name, const Signature& signature,
                                          std::span<const BoundParameter> given) {
    std::vector<const BoundValue*> values(signature.parameters.size(), nullptr);
    for (const BoundParameter& parameter : given) {
      std::size_t i = 0;
      while (i < values.size() && !EqualsIgnoreCase(signature.parameters[i], parameter.name)) ++i;
      if (i == values.size() || values[i]) {
        Raise(ErrorNumber::kDbCommand, std::string(name) + " has no parameter '" +
                                           std::string(parameter.name) + "' or it is given twice");
      }
      values[i] = &parameter.value;
    }
    std::vector<pg::Parameter> texts;
    texts.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!values[i]) {
        Raise(ErrorNumber::kDbCommand, std::string(name) + " expects parameter '" +
                                           signature.parameters[i] + "', which was not supplied");
      }
      texts.push_back(ParameterText(*values[i]));
    }
    return texts;
  }

  // SMS_EvaluateSQL: the statement text itself is the one parameter, sent as it is; the rows
  // are those of its last statement. Only programs of the administrator call it; no network
  // command leads here.
  Recordset EvaluateSql(std::span<const BoundParameter> parameters, bool rows) {
    const std::string* text =
        parameters.size() == 1 && EqualsIgnoreCase(parameters[0].name, kSqlStringParameter)
            ? std::get_if<std::string>(&parameters[0].value)
            : nullptr;
    if (!text) {
      Raise(ErrorNumber::kDbCommand, std::string(kEvaluateSql) + " takes one parameter '" +
                                         std::string(kSqlStringParameter) +
                                         "', the statement text");
    }
    const pg::Result result = connection_->ExecuteScript(*text);
    return rows ? Rows(result) : Recordset();
  }

  std::string uri_;
  std::optional<pg::Connection> connection_;
  std::map<std::string, Signature, std::less<>> signatures_;
};

}  // namespace

std::unique_ptr<Backend> MakePostgresqlBackend(std::string uri) {
  return std::make_unique<PostgresqlBackend>(std::move(uri));
}

}  // namespace talvex::data
