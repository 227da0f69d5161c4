// How rows are printed: an aligned Field/Info table for people, tab-separated
// lines and JSON records for programs. Rows are UTF-8 and printed in the order
// they were produced (RequestId first).
//
// Stateless (but RowChunks); safe from any thread.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "report/result_list.h"

namespace kestrune::cli {

// kAuto becomes a table on a terminal and tab-separated lines otherwise.
OutputFormat ResolveFormat(OutputFormat requested, bool output_is_terminal);

// The columns a text takes on a terminal: one per character, two for East
// Asian wide and full-width characters.
std::size_t DisplayWidth(std::string_view utf8);

// A value on one line: backslash, tab, line feed and carriage return become
// \\, \t, \n and \r; other control characters \xHH; C1 controls and the
// characters that reorder text (U+061C, U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069) \uxxxx (lower-case hex, as \xhh).
std::string EscapeLine(std::string_view text);

// "Field" and "Info" columns, a rule under the heading, record breaks drawn
// as a dashed rule, then `note` and `result_text` on lines of their own when
// not empty. With no rows the heading is left out.
std::string RenderTable(std::span<const report::Row> rows, std::string_view result_text,
                        std::string_view note);
// One "field<TAB>info" line per row, each side escaped by EscapeLine; a
// record break is an empty line, so that records read as paragraphs
// (awk -v RS=).
std::string RenderTsv(std::span<const report::Row> rows);

// Rows printed as they come, a chunk at a time (the pages of a walk), in a
// table or as tsv: the table's heading comes once, and its column widths are
// those of its first chunk (a wider value later pushes only its own line).
// One object per printed list; not thread-safe.
class RowChunks {
 public:
  explicit RowChunks(OutputFormat format) : format_(format) {}
  std::string Render(std::span<const report::Row> rows);

 private:
  OutputFormat format_;
  bool headed_ = false;
  std::size_t field_width_ = 0;
  std::size_t info_width_ = 0;
};

// The rows in `format` (not kAuto); result_text and note only in a table;
// JSON: the rows as records (JsonDocument::AddRows).
std::string RenderRows(OutputFormat format, std::span<const report::Row> rows,
                       std::string_view result_text, std::string_view note);

}  // namespace kestrune::cli
