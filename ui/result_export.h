// The result list's rows as text for the clipboard and as files: tab-separated
// lines, CSV and JSON. Each row is a Field and an Info cell, in the order the
// list shows them.
//
// Pure functions; any thread.
#pragma once

#include <span>
#include <string>

#include "core/status.h"

namespace kestrune::ui {

struct ExportRow {
  std::wstring field;
  std::wstring info;
};

// "Field<TAB>Info" lines, each ended by CR LF, with the header line
// "Field<TAB>Info" first when `header` is set. A tab or line break inside a
// cell would split it, so each becomes a space.
std::wstring RowsAsTabSeparated(std::span<const ExportRow> rows, bool header);

// UTF-8 with a byte-order mark (so that spreadsheet programs read Chinese
// text as such), the header "Field,Info", CR LF line ends; a cell holding a
// comma, a double quote or a line break is quoted, its quotes doubled.
std::string RowsAsCsv(std::span<const ExportRow> rows);

// A JSON array of {"Field": ..., "Info": ...} objects, UTF-8, indented.
std::string RowsAsJson(std::span<const ExportRow> rows);

// Replaces the file at `path` (UTF-8) by `bytes`, whole or not at all: written
// to a new temporary file beside it and renamed over it. Fails naming the file.
core::Status WriteExportFile(const std::string& path, const std::string& bytes);

}  // namespace kestrune::ui
