#include "ui/result_export.h"

#include <nlohmann/json.hpp>

#include "core/wide_text.h"
#include "request/small_file.h"

namespace kestrune::ui {
namespace {

void AppendTabCell(std::wstring& out, const std::wstring& cell) {
  for (wchar_t c : cell) out += (c == L'\t' || c == L'\r' || c == L'\n') ? L' ' : c;
}

void AppendCsvCell(std::string& out, const std::string& cell) {
  if (cell.find_first_of(",\"\r\n") == std::string::npos) {
    out += cell;
    return;
  }
  out += '"';
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

std::wstring RowsAsTabSeparated(std::span<const ExportRow> rows, bool header) {
  std::wstring out;
  if (header) out += L"Field\tInfo\r\n";
  for (const ExportRow& row : rows) {
    AppendTabCell(out, row.field);
    out += L'\t';
    AppendTabCell(out, row.info);
    out += L"\r\n";
  }
  return out;
}

std::string RowsAsCsv(std::span<const ExportRow> rows) {
  std::string out =
      "\xEF\xBB\xBF"
      "Field,Info\r\n";
  for (const ExportRow& row : rows) {
    AppendCsvCell(out, core::FromWide(row.field));
    out += ',';
    AppendCsvCell(out, core::FromWide(row.info));
    out += "\r\n";
  }
  return out;
}

std::string RowsAsJson(std::span<const ExportRow> rows) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const ExportRow& row : rows) {
    array.push_back({{"Field", core::FromWide(row.field)}, {"Info", core::FromWide(row.info)}});
  }
  // FromWide already gives valid UTF-8; should a byte ever not be, it is
  // replaced rather than thrown out of the dialog's message loop.
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

core::Status WriteExportFile(const std::string& path, const std::string& bytes) {
  return request::WriteFileAtomically(path, bytes);
}

}  // namespace kestrune::ui
