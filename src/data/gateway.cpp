// The gateway-queue operations (procedures in db/sqlite/gateway.sql). Outbound items get their
// content description composed and their body encoded before they are stored, so that the
// POP3 session can serve them unchanged.
#include "data/data_handler.hpp"
#include "platform/ansi.hpp"
#include "platform/resources.hpp"
#include "text/gateway_content.hpp"

namespace talvex {

namespace {

constexpr std::size_t kMaxHeaderText = 255;

// Cuts a text to its first `limit` characters (UTF-16 code units, as the database counts).
void CutTo(std::string& text, std::size_t limit) {
  const std::u16string units = utf16::fromUtf8(text);
  if (units.size() > limit) text = utf16::toUtf8(std::u16string_view(units).substr(0, limit));
}

std::int32_t CharacterCount(const std::string& text) {
  return static_cast<std::int32_t>(utf16::fromUtf8(text).size());
}

}  // namespace

// The content settings of the gateway service, read once per object (an absent value reads as
// "0", so the cache never stays empty).
void DataHandler::ReadContentSettings() {
  const std::string key = resources::GatewayServiceKey();
  Variant value;
  regLib_.ReadRegValue(RegRoot::kLocalMachine, key, "ContentType", RegValueType::kText, 0, value);
  contentType_ = value.TextOrEmpty();
  regLib_.ReadRegValue(RegRoot::kLocalMachine, key, "ContTransEncoding", RegValueType::kText, 0,
                       value);
  contTransEncoding_ = value.TextOrEmpty();
}

bool DataHandler::WriteGWItem(const std::string& DTReceived, const std::string& Source,
                              std::string& MessageID, Variant& Content,
                              const std::string& FromAddress, const std::string& FromName,
                              const std::string& ToAddress, std::string& Subject, std::string& Body,
                              const std::string& Direction, const std::string& RawData,
                              const std::string& Transport, std::string* NewItemID) {
  try {
    if (ToAddress.empty()) return false;
    CutTo(MessageID, kMaxHeaderText);
    CutTo(Subject, kMaxHeaderText);
    if (Direction == "O") {
      if (contentType_.empty()) ReadContentSettings();
      const std::string requested = Content.IsText() ? Content.ToText() : std::string();
      GatewayContent composed =
          ComposeGatewayContent(requested, Body, contentType_, contTransEncoding_);
      Content = std::move(composed.Content);
      Body = std::move(composed.Body);
    }
    const std::vector<ParameterDescriptor> parameters = {
        {"DTReceived", AdType::kVarChar, 255, DTReceived},
        {"Source", AdType::kVarChar, 255, Source},
        {"MessageID", AdType::kVarChar, 255, MessageID},
        {"Content", AdType::kVarChar, 255, Content},
        {"FromAddress", AdType::kVarChar, 255, FromAddress},
        {"FromName", AdType::kVarChar, 255, FromName},
        {"ToAddress", AdType::kVarChar, 4096, ToAddress},
        {"Subject", AdType::kVarChar, 255, Subject},
        {"Body", AdType::kLongVarWChar, CharacterCount(Body) + 1, Body},
        {"Direction", AdType::kChar, 1, Direction},
        {"RawData", AdType::kVarChar, 255, RawData},
        {"Transport", AdType::kSmallInt, 2, Transport},
    };
    if (NewItemID) {
      *NewItemID = Query("SMS_WriteGWItem", parameters).Fields("GWQID").ToText();
    } else {
      Execute("SMS_WriteGWItem", parameters);
    }
    return true;
  } catch (const std::exception& error) {
    ReportError("Unable to add Gateway item due to a database error", ToFailure(error));
    return false;
  }
}

Recordset DataHandler::GetGWItems(const std::string& Direction) {
  return Query("SMS_GetGWItems", {{"Direction", AdType::kChar, 1, Direction}});
}

}  // namespace talvex
