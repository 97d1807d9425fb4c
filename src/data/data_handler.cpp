// The DataHandler frame: creation, the calls into DataAccess, the error reporter and the
// transaction-log switch.
#include "data/data_handler.hpp"

#include "platform/resources.hpp"

namespace talvex {

namespace {

DataAccess CreateDataAccess(const Environment& env, std::shared_ptr<data::BackendPool> pool) {
  try {
    return DataAccess(env, std::move(pool));
  } catch (const Failure& failure) {
    if (!failure.Is(ErrorNumber::kCannotCreateObject) &&
        !failure.Is(ErrorNumber::kModuleNotFound)) {
      throw;
    }
    throw Failure(std::string(kDataHandlerSource), ErrorNumber::kDataHandlerCreate,
                  "Cannot instantiate object 'Quillon.dll'\r\n\r\n Please repair this "
                  "installation or re-install the application.");
  }
}

}  // namespace

std::string ErrorReportLine(std::string_view message, const Failure& failure) {
  std::string line(message);
  if (!line.empty()) line += ": ";
  return line + "[" + ErrorLine(failure) + "]";
}

Severity ErrorMessageType(std::int32_t number) {
  return number == static_cast<std::int32_t>(ErrorNumber::kUnspecified) ? Severity::kDetail
                                                                        : Severity::kFailure;
}

DataHandler::DataHandler(const Environment& env, std::shared_ptr<data::BackendPool> pool)
    : dataAccess_(CreateDataAccess(env, std::move(pool))), regLib_(env) {}

Recordset DataHandler::Query(std::string_view procedure,
                             const std::vector<ParameterDescriptor>& parameters) {
  return dataAccess_.RunProcedureQuery(procedure, connectionString_, kCmdStoredProc, parameters);
}

Recordset DataHandler::QueryOn(const std::string& connection, std::string_view procedure,
                               const std::vector<ParameterDescriptor>& parameters) {
  return dataAccess_.RunProcedureQuery(procedure, connection, kCmdStoredProc, parameters);
}

void DataHandler::Execute(std::string_view procedure,
                          const std::vector<ParameterDescriptor>& parameters) {
  dataAccess_.RunProcedure(procedure, connectionString_, kCmdStoredProc, parameters);
}

bool DataHandler::ExecuteHandled(std::string_view message, std::string_view procedure,
                                 const std::vector<ParameterDescriptor>& parameters) {
  try {
    Execute(procedure, parameters);
    return true;
  } catch (const Failure& failure) {
    ReportError(message, failure);
    return false;
  }
}

Variant DataHandler::ExecuteHandledVariant(std::string_view message, std::string_view procedure,
                                           const std::vector<ParameterDescriptor>& parameters) {
  return ExecuteHandled(message, procedure, parameters) ? Variant(true) : Variant();
}

Recordset DataHandler::QueryHandled(std::string_view message, std::string_view procedure,
                                    const std::vector<ParameterDescriptor>& parameters) {
  try {
    return Query(procedure, parameters);
  } catch (const std::exception& error) {
    ReportError(message, ToFailure(error));
    return {};
  }
}

Recordset DataHandler::Query(const ProcedureCall& call) {
  return Query(call.procedure, call.parameters);
}

bool DataHandler::ExecuteHandled(const ProcedureCall& call) {
  return ExecuteHandled(call.failureMessage, call.procedure, call.parameters);
}

asio::awaitable<Recordset> DataHandler::QueryAsync(ProcedureCall call) {
  co_return co_await dataAccess_.RunProcedureQueryAsync(
      std::string(call.procedure), connectionString_, kCmdStoredProc, std::move(call.parameters));
}

asio::awaitable<bool> DataHandler::ExecuteHandledAsync(ProcedureCall call) {
  try {
    co_await dataAccess_.RunProcedureAsync(std::string(call.procedure), connectionString_,
                                           kCmdStoredProc, std::move(call.parameters));
    co_return true;
  } catch (const Failure& failure) {
    ReportError(call.failureMessage, failure);
  }
  co_return false;
}

void DataHandler::ReportError(std::string_view message, const Failure& failure) const {
  if (!eventLog_) return;
  eventLog_(ErrorMessageType(failure.Number()), kDataHandlerSource,
            ErrorReportLine(message, failure));
}

const std::string& DataHandler::DatabaseSetting(std::string& cache, const char* name,
                                                const char* fallback) const {
  if (cache.empty()) {
    Variant value;
    regLib_.ReadRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(), name,
                         RegValueType::kText, Variant(fallback), value);
    cache = value.TextOrEmpty();
  }
  return cache;
}

bool DataHandler::TransLogOff() {
  return DatabaseSetting(transLogSwitch_, "TLOff", "0") == "1";
}

}  // namespace talvex
