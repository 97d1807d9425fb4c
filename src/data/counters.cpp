// The counters and message identifiers of the network message queue, and the event log
// (procedures in db/sqlite/catalogue.sql). A target address's counter runs from 0 to 999 and
// travels as three digits; the identifier of the message sent under each value is kept so that
// a reply quoting the counter finds its message.
#include <optional>

#include "data/data_handler.hpp"

namespace talvex {

namespace {

ParameterDescriptor Target(const std::string& toAddress) {
  return {"TargetAddress", AdType::kVarChar, 255, toAddress};
}

// The value as a whole number, when it reads as a number.
std::optional<std::int64_t> WholeNumber(const Variant& value) {
  try {
    return value.ToInt64();
  } catch (const Failure&) {
    return std::nullopt;
  }
}

// The number format "000": at least three digits. Null gives the empty text, a text that is
// no number stays as it is.
std::string ThreeDigits(const Variant& value) {
  if (value.IsNull()) return {};
  const auto number = WholeNumber(value);
  if (!number) return value.ToText();
  std::string digits = std::to_string(*number < 0 ? -*number : *number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return (*number < 0 ? "-" : "") + digits;
}

// The counter as the procedures take it: "000" is "0"; otherwise the number format "#", which
// drops leading zeros ("007" is "7") and gives the empty text for zero.
std::string CounterValue(const std::string& counter) {
  if (counter == "000") return "0";
  const auto number = WholeNumber(Variant(counter));
  if (!number) return counter;
  return *number == 0 ? std::string() : std::to_string(*number);
}

std::vector<ParameterDescriptor> Identifier(const std::string& toAddress,
                                            const std::string& counter,
                                            const std::string& messageId) {
  return {Target(toAddress),
          {"Counter", AdType::kInteger, 4, CounterValue(counter)},
          {"MessageID", AdType::kChar, 32, messageId}};
}

}  // namespace

std::string DataHandler::GetNMQCounter(const std::string& toAddress) {
  try {
    return ThreeDigits(Query("SMS_GetNMQCounter", {Target(toAddress)}).FieldAt(0));
  } catch (const std::exception&) {
    return {};  // the caller goes on without a counter
  }
}

std::string DataHandler::GetNMQMsgID(const std::string& toAddress, const std::string& counter) {
  try {
    return Query("SMS_GetNMQMsgID", {Target(toAddress), {"Counter", AdType::kInteger, 4, counter}})
        .FieldAt(0)
        .ToText();
  } catch (const std::exception&) {
    return {};  // no identifier known
  }
}

Variant DataHandler::WriteNMQMsgID(const std::string& toAddress, const std::string& counter,
                                   const std::string& messageId) {
  return ExecuteHandledVariant("", "SMS_WriteNMQMsgID", Identifier(toAddress, counter, messageId));
}

Variant DataHandler::UpdateNMQMsgID(const std::string& toAddress, const std::string& counter,
                                    const std::string& messageId) {
  return ExecuteHandledVariant("", "SMS_UpdateNMQMsgID", Identifier(toAddress, counter, messageId));
}

bool DataHandler::WriteEventLog(const std::string& eventDt, const std::string& eventType,
                                const std::string& source, const std::string& eventData) {
  return ExecuteHandled("", "SMS_WriteEventLog",
                        {{"EventDT", AdType::kDate, 8, eventDt},
                         {"EventType", AdType::kInteger, 255, eventType},
                         {"Source", AdType::kVarChar, 255, source},
                         {"Event", AdType::kVarChar, 4096, eventData}});
}

bool DataHandler::ClearEventLog() {
  return ExecuteHandled("", "SMS_ClearEventLog", {});
}

bool DataHandler::PurgeELI() {
  Execute("SMS_PurgeELI", {});
  return true;
}

}  // namespace talvex
