// DataAccess: the data-access object through which DataHandler runs the stored procedures of
// the suite's database. A call names the procedure, the connection string, the command type
// and the parameter descriptors; DataAccess checks and converts the descriptors, chooses the
// backend by the connection string and keeps it, with its one open connection, for the calls
// that follow.
#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/backend.hpp"
#include "data/backend_pool.hpp"
#include "data/parameter.hpp"
#include "data/recordset.hpp"
#include "platform/environment.hpp"

namespace talvex {

class DataAccess {
 public:
  // Makes the backend of the process default connection, or takes it from `pool` when one is
  // given. Raises Failure 429 when it cannot be made (the data directory cannot be created).
  explicit DataAccess(Environment env, std::shared_ptr<data::BackendPool> pool = {});

  // Runs the procedure; returns the rows of its last SELECT.
  Recordset RunProcedureQuery(std::string_view procedure, const std::string& connection,
                              std::int32_t commandType,
                              std::span<const ParameterDescriptor> parameters);
  // Runs the procedure for its effect.
  void RunProcedure(std::string_view procedure, const std::string& connection,
                    std::int32_t commandType, std::span<const ParameterDescriptor> parameters);

  // The same calls for a caller on the event loop, with the same failures; the call owns its
  // arguments while it waits.
  asio::awaitable<Recordset> RunProcedureQueryAsync(std::string procedure, std::string connection,
                                                    std::int32_t commandType,
                                                    std::vector<ParameterDescriptor> parameters);
  asio::awaitable<void> RunProcedureAsync(std::string procedure, std::string connection,
                                          std::int32_t commandType,
                                          std::vector<ParameterDescriptor> parameters);

  // The backend's own reader of an item's stored body, or null when it has none (see
  // data::Backend::OpenBody). The reader needs nothing of this object.
  std::unique_ptr<data::BodyReader> OpenBody(const std::string& connection, std::int64_t itemId);

 private:
  Recordset Run(std::string_view procedure, const std::string& connection, std::int32_t commandType,
                std::span<const ParameterDescriptor> parameters, bool rows);
  asio::awaitable<Recordset> RunAsync(std::string procedure, std::string connection,
                                      std::int32_t commandType,
                                      std::vector<ParameterDescriptor> parameters, bool rows);
  // The descriptors' values bound for a backend; refers to the descriptors.
  static std::vector<data::BoundParameter> Bind(std::int32_t commandType,
                                                std::span<const ParameterDescriptor> parameters);
  data::Backend& BackendFor(const std::string& connection);
  std::shared_ptr<data::Backend> MakeBackend(const data::ConnectionTarget& target) const;

  Environment env_;
  std::shared_ptr<data::BackendPool> pool_;
  std::string connection_;  // the connection string last used; backend_ serves it
  data::ConnectionTarget target_;
  std::shared_ptr<data::Backend> backend_;
};

}  // namespace talvex
