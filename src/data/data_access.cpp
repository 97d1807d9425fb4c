// Running procedures: descriptor checks, backend choice, the call.
#include "data/data_access.hpp"

#include <vector>

#include "data/data_errors.hpp"

namespace talvex {

DataAccess::DataAccess(Environment env, std::shared_ptr<data::BackendPool> pool)
    : env_(std::move(env)), pool_(std::move(pool)) {
  try {
    target_ = data::ResolveConnection(connection_, env_);
    backend_ = MakeBackend(target_);
  } catch (const Failure& failure) {
    throw Failure(std::string(data::kDataAccessSource), ErrorNumber::kCannotCreateObject,
                  "Cannot create the data-access object: " + failure.Description());
  }
}

std::shared_ptr<data::Backend> DataAccess::MakeBackend(const data::ConnectionTarget& target) const {
  return pool_ ? pool_->Get(target) : std::shared_ptr<data::Backend>(data::CreateBackend(target));
}

data::Backend& DataAccess::BackendFor(const std::string& connection) {
  if (connection == connection_) return *backend_;
  auto target = data::ResolveConnection(connection, env_);
  if (target != target_) {
    backend_ = MakeBackend(target);
    target_ = std::move(target);
  }
  connection_ = connection;
  return *backend_;
}

std::unique_ptr<data::BodyReader> DataAccess::OpenBody(const std::string& connection,
                                                       std::int64_t itemId) {
  return BackendFor(connection).OpenBody(itemId);
}

std::vector<data::BoundParameter> DataAccess::Bind(
    std::int32_t commandType, std::span<const ParameterDescriptor> parameters) {
  if (commandType != kCmdStoredProc) {
    data::Raise(ErrorNumber::kDbCommand, "Command type " + std::to_string(commandType) +
                                             " is not supported; procedures run with type 4");
  }
  std::vector<data::BoundParameter> bound;
  bound.reserve(parameters.size());
  for (const ParameterDescriptor& descriptor : parameters) {
    bound.push_back(data::BindParameter(descriptor));
  }
  return bound;
}

Recordset DataAccess::Run(std::string_view procedure, const std::string& connection,
                          std::int32_t commandType, std::span<const ParameterDescriptor> parameters,
                          bool rows) {
  const auto bound = Bind(commandType, parameters);
  return BackendFor(connection).Run(procedure, bound, rows);
}

// A coroutine owns its arguments while it is suspended: the bound values refer to the
// descriptors. cppcheck takes them for needless copies.
asio::awaitable<Recordset> DataAccess::RunAsync(std::string procedure,
                                                // cppcheck-suppress passedByValue
                                                std::string connection, std::int32_t commandType,
                                                // cppcheck-suppress passedByValue
                                                std::vector<ParameterDescriptor> parameters,
                                                bool rows) {
  auto bound = Bind(commandType, parameters);
  // The backend stays alive for the call even if a later call of this object changes it.
  BackendFor(connection);
  const std::shared_ptr<data::Backend> backend = backend_;
  co_return co_await backend->RunAsync(std::move(procedure), std::move(bound), rows);
}

Recordset DataAccess::RunProcedureQuery(std::string_view procedure, const std::string& connection,
                                        std::int32_t commandType,
                                        std::span<const ParameterDescriptor> parameters) {
  return Run(procedure, connection, commandType, parameters, true);
}

void DataAccess::RunProcedure(std::string_view procedure, const std::string& connection,
                              std::int32_t commandType,
                              std::span<const ParameterDescriptor> parameters) {
  Run(procedure, connection, commandType, parameters, false);
}

asio::awaitable<Recordset> DataAccess::RunProcedureQueryAsync(
    std::string procedure, std::string connection, std::int32_t commandType,
    std::vector<ParameterDescriptor> parameters) {
  co_return co_await RunAsync(std::move(procedure), std::move(connection), commandType,
                              std::move(parameters), true);
}

asio::awaitable<void> DataAccess::RunProcedureAsync(std::string procedure, std::string connection,
                                                    std::int32_t commandType,
                                                    std::vector<ParameterDescriptor> parameters) {
  co_await RunAsync(std::move(procedure), std::move(connection), commandType, std::move(parameters),
                    false);
}

}  // namespace talvex
