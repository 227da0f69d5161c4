#include "engine/diagnosis.h"

#include <array>
#include <cstdlib>

#include "core/ascii.h"
#include "report/xml_text.h"
#include "request/http_message.h"

namespace kestrune::engine {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// A string to sign: "METHOD&%2F&" and the canonical query encoded once more,
// so its items are separated by "%26" and name from value by "%3D".
struct SignedForm {
  std::string_view method;
  std::vector<std::string_view> items;
};

std::optional<SignedForm> ReadSignedForm(std::string_view text) {
  constexpr std::string_view kPath = "&%2F&";
  const std::size_t path = text.find(kPath);
  if (path == std::string_view::npos || path == 0) return std::nullopt;
  SignedForm form{text.substr(0, path), {}};
  for (const char ch : form.method) {
    if (ch < 'A' || ch > 'Z') return std::nullopt;
  }
  std::string_view query = text.substr(path + kPath.size());
  constexpr std::string_view kSeparator = "%26";
  while (!query.empty()) {
    const std::size_t end = query.find(kSeparator);
    form.items.push_back(query.substr(0, end));
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + kSeparator.size());
  }
  return form;
}

std::string_view NameOf(std::string_view item) { return item.substr(0, item.find("%3D")); }

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// The item as the user would have typed it: the signed form is encoded twice.
std::string Plain(std::string_view item) { return PercentDecode(PercentDecode(item)); }

SignatureDiagnosis NotPossible(std::string why) {
  SignatureDiagnosis diagnosis;
  diagnosis.notes.push_back("no diagnosis of the signature was possible: " + std::move(why));
  return diagnosis;
}

SignatureDiagnosis Differs(SignatureDiagnosis::Kind kind, std::string_view name,
                           std::string_view ours, std::string_view theirs) {
  SignatureDiagnosis diagnosis;
  diagnosis.kind = kind;
  diagnosis.parameter = std::string(name);
  diagnosis.ours = std::string(ours);
  diagnosis.theirs = std::string(theirs);
  const std::string quoted = "\"" + diagnosis.parameter + "\"";
  switch (kind) {
    case SignatureDiagnosis::Kind::kValueDiffers:
      diagnosis.notes.push_back("the service signed parameter " + quoted +
                                " differently from this request");
      diagnosis.notes.push_back("  signed here:       " + diagnosis.ours);
      diagnosis.notes.push_back("  signed by service: " + diagnosis.theirs);
      diagnosis.notes.push_back(
          Plain(ours) == Plain(theirs)
              ? "the value is the same but a character in it was encoded another way on the way"
              : "the value was changed on the way (by a proxy, say)");
      break;
    case SignatureDiagnosis::Kind::kDropped:
      diagnosis.notes.push_back("parameter " + quoted +
                                " was signed here but did not reach the service");
      diagnosis.notes.push_back("  signed here:       " + diagnosis.ours);
      diagnosis.notes.push_back("it was dropped on the way (by a proxy, say)");
      break;
    case SignatureDiagnosis::Kind::kAdded:
      diagnosis.notes.push_back("the service saw parameter " + quoted +
                                " that this request did not sign");
      diagnosis.notes.push_back("  signed by service: " + diagnosis.theirs);
      diagnosis.notes.push_back("it was added on the way (by a proxy, say)");
      break;
    default:
      break;
  }
  return diagnosis;
}

// A version 3 canonical request: its lines in order are the method, the
// path, the query, each signed header, an empty line, the header names and
// the body's hash. The first line that differs says what changed.
SignatureDiagnosis DiagnoseCanonicalRequest(std::string_view ours, std::string_view theirs) {
  std::size_t line = 0;
  while (true) {
    const std::size_t a = ours.find('\n');
    const std::size_t b = theirs.find('\n');
    const std::string_view mine = ours.substr(0, a);
    const std::string_view seen = theirs.substr(0, b);
    if (mine != seen) {
      SignatureDiagnosis diagnosis;
      diagnosis.kind = line == 0 ? SignatureDiagnosis::Kind::kMethodDiffers
                                 : SignatureDiagnosis::Kind::kValueDiffers;
      diagnosis.ours = std::string(mine);
      diagnosis.theirs = std::string(seen);
      const std::string_view what = line == 0   ? "the method"
                                    : line == 2 ? "the query"
                                    : line == 1 ? "the path"
                                                : "a signed header or the body";
      diagnosis.parameter = std::string(what);
      diagnosis.notes.push_back("the service's canonical request differs from this one in " +
                                std::string(what) +
                                ": it was changed on the way (by a proxy, say)");
      diagnosis.notes.push_back("  signed here:       " + diagnosis.ours);
      diagnosis.notes.push_back("  signed by service: " + diagnosis.theirs);
      return diagnosis;
    }
    if (a == std::string_view::npos || b == std::string_view::npos) break;
    ours.remove_prefix(a + 1);
    theirs.remove_prefix(b + 1);
    ++line;
  }
  return NotPossible("the canonical requests differ in a way that names no part");
}

}  // namespace

std::optional<std::string_view> ServerStringToSign(std::string_view message) {
  const std::size_t at = message.find(kServerStringToSignMarker);
  if (at == std::string_view::npos) return std::nullopt;
  return Trim(message.substr(at + kServerStringToSignMarker.size()));
}

SignatureDiagnosis DiagnoseSignature(std::string_view ours, std::string_view message) {
  const std::optional<std::string_view> quoted = ServerStringToSign(message);
  if (!quoted || quoted->empty()) {
    return NotPossible("the service's message carries no string to sign");
  }
  if (*quoted == ours) {
    SignatureDiagnosis diagnosis;
    diagnosis.kind = SignatureDiagnosis::Kind::kSameString;
    diagnosis.notes.push_back("the service signed exactly the string this request was signed over");
    diagnosis.notes.push_back(
        "so the AccessKey secret is not the one that belongs to this AccessKey id");
    return diagnosis;
  }
  if (ours.find('\n') != std::string_view::npos) return DiagnoseCanonicalRequest(ours, *quoted);
  const std::optional<SignedForm> theirs = ReadSignedForm(*quoted);
  const std::optional<SignedForm> mine = ReadSignedForm(ours);
  if (!theirs || !mine) {
    return NotPossible("the service's string to sign could not be read");
  }
  if (theirs->method != mine->method) {
    SignatureDiagnosis diagnosis;
    diagnosis.kind = SignatureDiagnosis::Kind::kMethodDiffers;
    diagnosis.ours = std::string(mine->method);
    diagnosis.theirs = std::string(theirs->method);
    diagnosis.notes.push_back("this request was signed as a " + diagnosis.ours +
                              " but the service saw a " + diagnosis.theirs);
    return diagnosis;
  }
  // Both lists are in the canonical (sorted) order: walk them side by side.
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < mine->items.size() || j < theirs->items.size()) {
    if (j == theirs->items.size()) {
      return Differs(SignatureDiagnosis::Kind::kDropped, NameOf(mine->items[i]), mine->items[i],
                     {});
    }
    if (i == mine->items.size()) {
      return Differs(SignatureDiagnosis::Kind::kAdded, NameOf(theirs->items[j]), {},
                     theirs->items[j]);
    }
    const std::string_view a = mine->items[i];
    const std::string_view b = theirs->items[j];
    const std::string_view name_a = NameOf(a);
    const std::string_view name_b = NameOf(b);
    if (name_a == name_b) {
      if (a != b) return Differs(SignatureDiagnosis::Kind::kValueDiffers, name_a, a, b);
      ++i;
      ++j;
    } else if (name_a < name_b) {
      return Differs(SignatureDiagnosis::Kind::kDropped, name_a, a, {});
    } else {
      return Differs(SignatureDiagnosis::Kind::kAdded, name_b, {}, b);
    }
  }
  // Same items, same method, yet different text: nothing this can name.
  return NotPossible("the strings differ in a way that names no parameter");
}

std::optional<std::int64_t> ParseHttpDate(std::string_view value) {
  value = Trim(value);
  // "Www, DD Mon YYYY HH:MM:SS GMT": 29 characters exactly.
  if (value.size() != 29 || value.substr(3, 2) != ", " || value[7] != ' ' || value[11] != ' ' ||
      value[16] != ' ' || value[19] != ':' || value[22] != ':' || value.substr(25) != " GMT") {
    return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t length) -> int {
    int result = 0;
    for (std::size_t k = at; k < at + length; ++k) {
      if (value[k] < '0' || value[k] > '9') return -1;
      result = result * 10 + (value[k] - '0');
    }
    return result;
  };
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int month = 0;
  for (std::size_t m = 0; m < kMonths.size(); ++m) {
    if (value.substr(8, 3) == kMonths[m]) month = static_cast<int>(m) + 1;
  }
  const int day = number(5, 2);
  const int year = number(12, 4);
  const int hour = number(17, 2);
  const int minute = number(20, 2);
  const int second = number(23, 2);
  if (month == 0 || day < 1 || day > 31 || year < 1970 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  // Days since 1970-01-01 of a civil date (proleptic Gregorian).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;
  const int year_of_era = y - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::int64_t days = std::int64_t{era} * 146097 + day_of_era - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<std::string> ErrorElement(std::string_view body, std::string_view name) {
  // Built by appending: GCC 12 warns falsely on "literal" + std::string.
  std::string open = "<";
  open.append(name).append(">");
  std::string close = "</";
  close.append(name).append(">");
  const std::size_t start = body.find(open);
  if (start != std::string_view::npos) {
    const std::size_t from = start + open.size();
    const std::size_t end = body.find(close, from);
    if (end == std::string_view::npos) return std::nullopt;
    return report::DecodeXmlText(body.substr(from, end - from));
  }
  // {"Code":"...","Message":"..."}: the service's strings, with JSON escapes.
  std::string key = "\"";
  key.append(name).append("\"");
  std::size_t at = body.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  at = body.find_first_not_of(" \t\r\n", at + key.size());
  if (at == std::string_view::npos || body[at] != ':') return std::nullopt;
  at = body.find_first_not_of(" \t\r\n", at + 1);
  if (at == std::string_view::npos || body[at] != '"') return std::nullopt;
  std::string value;
  for (++at; at < body.size() && body[at] != '"'; ++at) {
    if (body[at] == '\\' && at + 1 < body.size()) {
      ++at;
      const char escaped = body[at];
      value.push_back(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
    } else {
      value.push_back(body[at]);
    }
  }
  return value;
}

bool IsTimestampRefusal(std::string_view code) {
  return code == "InvalidTimeStamp.Expired" || code == "IllegalTimestamp";
}

std::optional<std::chrono::seconds> ClockOffset(const request::HttpHead& head,
                                                std::chrono::system_clock::time_point received) {
  const std::optional<std::string_view> date = head.Find("Date");
  if (!date) return std::nullopt;
  const std::optional<std::int64_t> service = ParseHttpDate(*date);
  if (!service) return std::nullopt;
  const auto local =
      std::chrono::duration_cast<std::chrono::seconds>(received.time_since_epoch()).count();
  return std::chrono::seconds(*service - local);
}

std::string DescribeOffset(std::chrono::seconds offset) {
  const std::int64_t total = offset.count();
  const std::int64_t magnitude = std::llabs(total);
  std::string text;
  if (magnitude >= 3600) text += std::to_string(magnitude / 3600) + " h ";
  if (magnitude >= 60) text += std::to_string(magnitude / 60 % 60) + " min ";
  text += std::to_string(magnitude % 60) + " s";
  return text + (total > 0 ? " behind" : " ahead");
}

}  // namespace kestrune::engine
