// The transaction-log commands of talvex-admin (translog add, list and show): records written
// and read through the data layer's operations, so that they are encrypted and decrypted as
// the suite's other programs do it. Each returns the program's exit code and prints the
// reason of a refusal on stderr.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "admin_support.hpp"
#include "data/data_handler.hpp"
#include "data/trans_crypt.hpp"

namespace talvex::apps {

struct TransLogArgs {
  TransLogEntry entry;
  std::string to;
  std::string bodyFile;
  bool bodyGiven = false;
  std::int32_t limit = 0;
  std::string messageId;
  std::string direction = "O";
  bool raw = false;
};

// The fields of a record in the order `show` prints them; the body last, as it may run over
// several lines.
inline constexpr const char* kTransLogFields[] = {
    "ItemID",   "TransDT",   "MessageID", "ParentID",  "Content",    "MessageType", "FromAddress",
    "FromName", "ToAddress", "ToName",    "Subject",   "Direction",  "Network",     "Cost",
    "Type",     "Status",    "StatusDT",  "Encrypted", "Department", "Body"};

inline int TransLogAdd(const Environment& env, TransLogArgs& args) {
  if (const auto problem = ReadBody(args.bodyFile, args.bodyGiven, args.entry.body)) {
    return Refuse(*problem);
  }
  if (!IsUtf8(args.entry.body)) return Refuse("the body is not UTF-8 text");
  DataHandler data(env);
  std::string lastError;
  data.SetEventLog(
      [&lastError](Severity, std::string_view, std::string_view message) { lastError = message; });
  if (!data.WriteTransLog(args.entry)) {
    return Refuse("cannot add the record of message '" + args.entry.messageId + "': " + lastError);
  }
  return kExitOk;
}

inline int TransLogList(const Environment& env, const TransLogArgs& args) {
  DataHandler data(env);
  Recordset rows = data.GetTransLogs();
  std::int32_t shown = 0;
  for (rows.MoveFirst(); !rows.Eof() && (args.limit <= 0 || shown < args.limit); rows.MoveNext()) {
    const std::string messageId = rows.Fields("MessageID").TextOrEmpty();
    const std::string subject = rows.Fields("Subject").TextOrEmpty();
    std::cout << rows.Fields("TransDT").TextOrEmpty() << "\t" << messageId << "\t"
              << rows.Fields("Direction").TextOrEmpty() << "\t"
              << rows.Fields("FromAddress").TextOrEmpty() << "\t"
              << rows.Fields("ToAddress").TextOrEmpty() << "\t"
              << rows.Fields("Status").TextOrEmpty() << "\t"
              << (rows.Fields("Encrypted").ToBool() ? DecryptText(subject, messageId) : subject)
              << "\n";
    ++shown;
  }
  return kExitOk;
}

// The stored form of the record with the given ItemID; an empty one when it is gone.
inline Recordset StoredRecord(DataHandler& data, const Variant& itemId) {
  Recordset rows = data.GetTransLogs();
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    if (rows.Fields("ItemID") == itemId) return rows;
  }
  return {};
}

inline int TransLogShow(const Environment& env, const TransLogArgs& args) {
  DataHandler data(env);
  Recordset item;
  data.GetTransItem(args.messageId, args.direction, item);
  if (!item.IsOpen() || item.RecordCount() == 0) {
    return Refuse("no transaction-log record of message '" + args.messageId + "' in direction '" +
                  args.direction + "'");
  }
  if (args.raw) item = StoredRecord(data, item.Fields("ItemID"));
  if (!item.IsOpen()) return Refuse("the record of message '" + args.messageId + "' is gone");
  for (const char* field : kTransLogFields) {
    std::cout << field << ": " << item.Fields(field).TextOrEmpty() << "\n";
  }
  return kExitOk;
}

// Adds "translog add", "translog list" and "translog show"; the one given sets `action`.
inline void AddTransLogCommands(CLI::App& app, TransLogArgs& args, Action& action) {
  auto* translog = app.add_subcommand("translog", "the transaction log");
  translog->require_subcommand(1);
  auto* add = translog->add_subcommand("add", "write one record through WriteTransLog");
  TransLogEntry& entry = args.entry;
  add->add_option("--message-id", entry.messageId, "message identifier (up to 32 characters)")
      ->required();
  add->add_option("--to", args.to, "recipient address")->required();
  add->add_option("--from", entry.fromAddress, "sender address");
  add->add_option("--subject", entry.subject, "subject");
  auto* bodyText = add->add_option("--body", entry.body, "body text (UTF-8; default: stdin)");
  bodyText->excludes(add->add_option("--body-file", args.bodyFile, "file with the body"));
  add->add_option("--content", entry.content, "content; \"Unicode\" keeps every character");
  entry.direction = "O";
  add->add_option("--direction", entry.direction, "O outbound, I inbound")
      ->check(CLI::IsMember({"O", "I"}))
      ->capture_default_str();
  add->add_option("--cost", entry.cost, "cost (default: 0)");
  entry.status = "0";
  add->add_option("--status", entry.status, "status")->capture_default_str();
  OnGiven(add, action, [&args, bodyText](const Environment& env) {
    args.bodyGiven = bodyText->count() > 0;
    args.entry.toAddress = args.to;
    return TransLogAdd(env, args);
  });
  auto* list = translog->add_subcommand(
      "list",
      "one line per record, newest first: date, message id, direction, from, to, "
      "status, subject");
  list->add_option("--limit", args.limit, "at most this many records")->check(CLI::PositiveNumber);
  OnGiven(list, action, [&args](const Environment& env) { return TransLogList(env, args); });
  auto* show = translog->add_subcommand("show", "every field of a message's latest record");
  show->add_option("ID", args.messageId, "message identifier")->required();
  show->add_option("--direction", args.direction, "O outbound, I inbound")
      ->check(CLI::IsMember({"O", "I"}))
      ->capture_default_str();
  show->add_flag("--raw", args.raw, "the fields as stored, without decryption");
  OnGiven(show, action, [&args](const Environment& env) { return TransLogShow(env, args); });
}

}  // namespace talvex::apps
