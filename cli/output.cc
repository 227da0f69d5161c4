#include "cli/output.h"

#include <algorithm>

#include "cli/json_output.h"
#include "core/utf8.h"
#include "report/extractor.h"

namespace kestrune::cli {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kWidestRule = 60;

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  const std::size_t used = DisplayWidth(text);
  if (used < width) out.append(width - used, ' ');
}

}  // namespace

OutputFormat ResolveFormat(OutputFormat requested, bool output_is_terminal) {
  if (requested != OutputFormat::kAuto) return requested;
  return output_is_terminal ? OutputFormat::kTable : OutputFormat::kTsv;
}

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t code_point = 0;
    std::size_t length = core::DecodeUtf8(utf8.substr(pos), code_point);
    if (length == 0) {
      ++width;  // shown as one replacement character
      ++pos;
      continue;
    }
    width += IsWide(code_point) ? 2 : 1;
    pos += length;
  }
  return width;
}

namespace {

// The length of the UTF-8 sequence at `at` when it encodes a C1 control or
// a character that reorders the text around it (embeddings, overrides,
// isolates and the direction marks): a value holding one could make a
// terminal show it, and what follows it, other than it is. 0 otherwise.
std::size_t HiddenCharacterAt(std::string_view text, std::size_t at, char32_t& code_point) {
  const auto byte = [&](std::size_t k) {
    return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0U;
  };
  if (byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) {
    code_point = byte(1);  // U+0080 to U+009F
    return 2;
  }
  if (byte(0) == 0xD8 && byte(1) == 0x9C) {
    code_point = 0x061C;
    return 2;
  }
  if (byte(0) != 0xE2 || (byte(1) != 0x80 && byte(1) != 0x81)) return 0;
  code_point = 0x2000 + ((byte(1) & 0x3F) << 6) + (byte(2) & 0x3F);
  const bool hidden = (code_point >= 0x202A && code_point <= 0x202E) ||
                      (code_point >= 0x2066 && code_point <= 0x2069) || code_point == 0x200E ||
                      code_point == 0x200F;
  return hidden && (byte(2) & 0xC0) == 0x80 ? 3 : 0;
}

// Appends `text` to `out` escaped as EscapeLine does; runs of bytes that
// need no escape are copied whole, so a long value costs one pass.
void AppendEscapedLine(std::string& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char ch = text[at];
    const auto byte = static_cast<unsigned char>(ch);
    if (byte == 0xC2 || byte == 0xD8 || byte == 0xE2) {
      char32_t code_point = 0;
      const std::size_t length = HiddenCharacterAt(text, at, code_point);
      if (length == 0) continue;
      out.append(text.substr(run, at - run));
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(code_point >> shift) & 0x0F];
      at += length - 1;
      run = at + 1;
      continue;
    }
    if (ch != '\\' && byte >= 0x20 && byte != 0x7F) continue;
    out.append(text.substr(run, at - run));
    run = at + 1;
    switch (ch) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += "\\x";
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0x0F];
    }
  }
  out.append(text.substr(run));
}

// Room for the rows' text and the line's few extra bytes, so a long reply's
// output grows once.
std::size_t RowsSize(std::span<const report::Row> rows) {
  std::size_t size = 0;
  for (const report::Row& row : rows) size += row.field.size() + row.info.size() + 2;
  return size;
}

}  // namespace

std::string EscapeLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscapedLine(out, text);
  return out;
}

namespace {

struct TableWidths {
  std::size_t field = 0;
  std::size_t info = 0;
};

TableWidths WidthsOf(std::span<const report::Row> rows) {
  TableWidths widths{DisplayWidth("Field"), DisplayWidth("Info")};
  for (const report::Row& row : rows) {
    if (row.record_break) continue;
    widths.field = std::max(widths.field, DisplayWidth(EscapeLine(row.field)));
    widths.info = std::max(widths.info, DisplayWidth(EscapeLine(row.info)));
  }
  widths.info = std::min(widths.info, kWidestRule);
  return widths;
}

void AppendHeading(std::string& out, const TableWidths& widths) {
  AppendPadded(out, "Field", widths.field);
  out += "  Info\n";
  out += std::string(widths.field, '=') + "  " + std::string(widths.info, '=') + "\n";
}

void AppendTableRows(std::string& out, std::span<const report::Row> rows,
                     const TableWidths& widths) {
  const std::string separator_rule =
      std::string(widths.field, '-') + "  " + std::string(widths.info, '-') + "\n";
  for (const report::Row& row : rows) {
    if (row.record_break) {
      out += separator_rule;
      continue;
    }
    AppendPadded(out, EscapeLine(row.field), widths.field);
    out += "  ";
    AppendEscapedLine(out, row.info);
    // No trailing blanks after an empty value.
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += '\n';
  }
}

}  // namespace

std::string RowChunks::Render(std::span<const report::Row> rows) {
  if (format_ != OutputFormat::kTable) return RenderTsv(rows);
  std::string out;
  if (rows.empty()) return out;
  if (!headed_) {
    const TableWidths widths = WidthsOf(rows);
    field_width_ = widths.field;
    info_width_ = widths.info;
    AppendHeading(out, widths);
    headed_ = true;
  }
  AppendTableRows(out, rows, TableWidths{field_width_, info_width_});
  return out;
}

std::string RenderTable(std::span<const report::Row> rows, std::string_view result_text,
                        std::string_view note) {
  std::string out;
  if (!rows.empty()) {
    const TableWidths widths = WidthsOf(rows);
    AppendHeading(out, widths);
    AppendTableRows(out, rows, widths);
  }
  if (!note.empty()) {
    out += note;
    out += '\n';
  }
  if (!result_text.empty()) {
    out += EscapeLine(result_text);
    out += '\n';
  }
  return out;
}

std::string RenderTsv(std::span<const report::Row> rows) {
  std::string out;
  out.reserve(RowsSize(rows));
  for (const report::Row& row : rows) {
    if (row.record_break) {
      out += '\n';
      continue;
    }
    AppendEscapedLine(out, row.field);
    out += '\t';
    AppendEscapedLine(out, row.info);
    out += '\n';
  }
  return out;
}

std::string RenderRows(OutputFormat format, std::span<const report::Row> rows,
                       std::string_view result_text, std::string_view note) {
  switch (format) {
    case OutputFormat::kTsv:
      return RenderTsv(rows);
    case OutputFormat::kJson: {
      JsonDocument document;
      document.AddRows(rows);
      return document.Render(false);
    }
    case OutputFormat::kTable:
    case OutputFormat::kAuto:
      break;
  }
  return RenderTable(rows, result_text, note);
}

}  // namespace kestrune::cli
