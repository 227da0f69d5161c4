// The dialog's result list: the report-view list control 3004 with the columns
// "Field" and "Info", seen by the rest of the program as a report::ResultList.
// The control is a virtual one (LVS_OWNERDATA): the rows live beside the
// control (kept with its window from Setup until it is destroyed, so every
// ListViewResultList of one control sees the same rows) and the control asks
// for the ones it draws, so thousands of rows go in at once without the
// window stopping to answer.
//
// Texts arrive as UTF-8 and are shown as wide text. Dialog thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/result_list.h"

namespace kestrune::ui {

// Rows as the list shows them, bottom row first, in wide text.
using ShownRows = std::vector<std::pair<std::wstring, std::wstring>>;

// Collects rows for the list on any thread (a request's worker), already
// converted and with CDATA wrappers stripped, so that the dialog's thread
// only swaps them in.
class RowCollector : public report::ResultList {
 public:
  void InsertTop(std::string_view field, std::string_view info) override;
  void Clear() override { rows_.clear(); }
  ShownRows& rows() { return rows_; }

 private:
  ShownRows rows_;
};

class ListViewResultList : public report::ResultList {
 public:
  ListViewResultList() = default;
  explicit ListViewResultList(HWND list) : list_(list) {}

  // Sets full-row select and header drag-and-drop and inserts the two columns
  // ("Field" 150 pixels, "Info" 320 pixels, right-aligned).
  void Setup();

  void InsertTop(std::string_view field, std::string_view info) override;
  void Clear() override;
  // Replaces every row by `rows` with one count change, whatever their number.
  void Replace(ShownRows rows);
  // Answers the control's request for a cell's text (LVN_GETDISPINFOW).
  void FillDisplayInfo(NMLVDISPINFOW& info) const;

  // Number of rows.
  int RowCount() const;
  // The whole text of one cell (no length cap); empty for a row that does not exist.
  std::wstring CellText(int row, int column) const { return std::wstring(Cell(row, column)); }
  // The same, without a copy; valid until the rows next change.
  std::wstring_view Cell(int row, int column) const;
  // The Info text of the focused row; nullopt when no row has the focus.
  std::optional<std::wstring> FocusedInfo() const;
  // The selected rows, top first.
  std::vector<int> SelectedRows() const;

  HWND handle() const { return list_; }

 private:
  HWND list_ = nullptr;
};

}  // namespace kestrune::ui
