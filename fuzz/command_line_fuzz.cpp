// Command lines and numeric arguments from arbitrary text. Words: joining the words of a line
// with single spaces gives the line back. Cleaning: what is left is the text between the CR LF
// pairs taken off its ends. Logging: the line keeps its line breaks and every other character,
// except that the argument of a PASS after a line break is replaced by "***". Numbers: an
// accepted decimal is finite and made of the grammar's characters only, whole numbers read
// back as themselves, and rounding goes to the nearest whole number, ties to even.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "platform/ascii.hpp"
#include "platform/numbers.hpp"
#include "session/command_line.hpp"

namespace {

using talvex::fuzz::Check;

constexpr std::string_view kBreaks = "\r\n";
constexpr std::string_view kPass = "PASS ";

void CheckWords(std::string_view line) {
  const std::vector<std::string> words = talvex::SplitWords(line);
  std::string joined;
  for (std::size_t i = 0; i < words.size(); ++i) {
    Check(words[i].find(' ') == std::string::npos, "a word holds no space");
    if (i > 0) joined += ' ';
    joined += words[i];
  }
  Check(joined == line, "the words joined by spaces give the line");
}

void CheckCleaned(const std::string& text) {
  const std::string cleaned = talvex::CleanCommandLine(text);
  Check(!cleaned.starts_with(kBreaks) && !cleaned.ends_with(kBreaks), "no CR LF left at the ends");
  std::string_view rest = text;
  if (rest.ends_with('.')) rest.remove_suffix(1);
  while (rest.starts_with(kBreaks)) rest.remove_prefix(kBreaks.size());
  Check(rest.starts_with(cleaned), "the cleaned line is the text between the pairs taken off");
  std::string_view removed = rest.substr(cleaned.size());
  while (removed.starts_with(kBreaks)) removed.remove_prefix(kBreaks.size());
  Check(removed.empty(), "only CR LF pairs are taken off the end");
}

// The runs of a text: alternately characters other than CR and LF, and CR and LF.
std::vector<std::string_view> Runs(std::string_view text) {
  std::vector<std::string_view> runs;
  while (!text.empty()) {
    const bool breaks = kBreaks.find(text.front()) != std::string_view::npos;
    const std::size_t end = breaks ? text.find_first_not_of(kBreaks) : text.find_first_of(kBreaks);
    runs.push_back(text.substr(0, end));
    text.remove_prefix(runs.back().size());
  }
  return runs;
}

bool IsHiddenPass(std::string_view run) {
  return run.size() > kPass.size() && talvex::EqualsIgnoreCase(run.substr(0, kPass.size()), kPass);
}

void CheckLogged(std::string_view line) {
  const std::vector<std::string_view> given = Runs(line);
  const std::string loggedLine = talvex::LoggedCommandLine(line);
  const std::vector<std::string_view> logged = Runs(loggedLine);
  Check(given.size() == logged.size(), "the logged line keeps every line break");
  for (std::size_t i = 0; i < given.size() && i < logged.size(); ++i) {
    // A run other than the first is a text after a line break.
    if (i > 0 && IsHiddenPass(given[i])) {
      Check(logged[i] == std::string(given[i].substr(0, kPass.size())) + "***",
            "the argument of a PASS after a line break is hidden");
    } else {
      Check(logged[i] == given[i], "everything else is logged as sent");
    }
  }
}

bool OnlyGrammarCharacters(std::string_view text) {
  return text.find_first_not_of(" +-.0123456789eE") == std::string_view::npos;
}

void CheckDecimal(std::string_view text) {
  const auto value = talvex::ParseDecimal(text);
  if (!value) return;
  Check(std::isfinite(*value), "an accepted decimal is finite");
  Check(OnlyGrammarCharacters(text), "an accepted decimal has only the grammar's characters");
  const double rounded = talvex::RoundHalfEven(*value);
  const double distance = std::fabs(rounded - *value);
  Check(rounded == std::floor(rounded), "rounding gives a whole number");
  Check(distance <= 0.5, "rounding goes to the nearest whole number");
  Check(distance < 0.5 || std::fmod(rounded, 2.0) == 0.0, "a half goes to the even neighbour");
  const auto narrowed = talvex::RoundToInt32(*value);
  Check(narrowed.has_value() == (rounded >= INT32_MIN && rounded <= INT32_MAX),
        "a rounded value narrows exactly when it fits");
  Check(!narrowed || static_cast<double>(*narrowed) == rounded, "narrowing keeps the value");
}

void CheckWholeNumber(std::int64_t number) {
  // Beyond 2^53 a double no longer holds every integer; stay below it.
  constexpr std::int64_t kExact = std::int64_t{1} << 53;
  number %= kExact;
  const std::string text = std::to_string(number);
  const auto value = talvex::ParseDecimal(" " + text + "  ");
  Check(value && *value == static_cast<double>(number), "a whole number reads back as itself");
  const auto narrowed = talvex::NarrowInteger<std::int16_t>(number);
  Check(narrowed.has_value() == (number >= INT16_MIN && number <= INT16_MAX),
        "an integer narrows exactly when it fits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckWords(text);
  CheckCleaned(text);
  CheckLogged(text);
  CheckDecimal(text);
  FuzzedDataProvider input(data, size);
  CheckWholeNumber(input.ConsumeIntegral<std::int64_t>());
  return 0;
}
