#include "ui/result_list_view.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "core/wide_text.h"

namespace kestrune::ui {
namespace {

struct Column {
  const wchar_t* header;
  int width;
  int format;
};

constexpr std::array<Column, 2> kColumns = {{
    {L"Field", 150, LVCFMT_LEFT},
    {L"Info", 320, LVCFMT_RIGHT},
}};

constexpr DWORD kExtendedStyles =
    LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_INFOTIP | LVS_EX_LABELTIP;

// A value the service wrapped in a CDATA section is shown without the wrapper.
std::string_view WithoutCdata(std::string_view text) {
  constexpr std::string_view kOpen = "<![CDATA[";
  constexpr std::string_view kClose = "]]>";
  if (text.size() >= kOpen.size() + kClose.size() && text.starts_with(kOpen) &&
      text.ends_with(kClose)) {
    return text.substr(kOpen.size(), text.size() - kOpen.size() - kClose.size());
  }
  return text;
}

// The rows of one control, bottom row first, so that a row on top is an append.
struct RowStore {
  ShownRows rows;
};
constexpr wchar_t kRowsProperty[] = L"KestruneRows";
constexpr UINT_PTR kSubclassId = 1;

RowStore* RowsOf(HWND list) {
  return list != nullptr ? static_cast<RowStore*>(GetPropW(list, kRowsProperty)) : nullptr;
}

// Frees the rows with the control.
// The Field column's width: 100 dialog units of the dialog's font, which
// follows the screen's DPI (150 pixels at 96 DPI in "MS Shell Dlg 2").
int FieldColumnWidth(HWND list) {
  RECT units{0, 0, 100, 0};
  HWND dialog = GetParent(list);
  if (dialog == nullptr || !MapDialogRect(dialog, &units) || units.right <= 0) {
    return kColumns[0].width;
  }
  return static_cast<int>(units.right);
}

// The Info column takes the width the Field column leaves, so that the
// values, aligned to the right, stay in view at any size of the window.
void FitInfoColumn(HWND list) {
  constexpr int kNarrowest = 80;
  RECT client{};
  if (!GetClientRect(list, &client)) return;
  const auto field = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
  const int rest = std::max(kNarrowest, static_cast<int>(client.right) - field);
  if (SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0) != rest) {
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(rest, 0));
  }
}

LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                          DWORD_PTR) {
  if (message == WM_NCDESTROY) {
    delete RowsOf(list);
    RemovePropW(list, kRowsProperty);
    RemoveWindowSubclass(list, ListProc, kSubclassId);
  }
  const LRESULT result = DefSubclassProc(list, message, wparam, lparam);
  if (message == WM_SIZE) FitInfoColumn(list);
  return result;
}

}  // namespace

void RowCollector::InsertTop(std::string_view field, std::string_view info) {
  rows_.emplace_back(core::ToWide(field), core::ToWide(WithoutCdata(info)));
}

void ListViewResultList::Setup() {
  if (list_ == nullptr) return;
  if (RowsOf(list_) == nullptr) {
    auto rows = std::make_unique<RowStore>();
    if (SetPropW(list_, kRowsProperty, rows.get()) &&
        SetWindowSubclass(list_, ListProc, kSubclassId, 0)) {
      static_cast<void>(rows.release());  // the control's WM_NCDESTROY frees it
    } else {
      RemovePropW(list_, kRowsProperty);
    }
  }
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, kExtendedStyles, kExtendedStyles);
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = kColumns[i].format;
    column.cx = i == 0 ? FieldColumnWidth(list_) : kColumns[i].width;
    column.pszText = const_cast<wchar_t*>(kColumns[i].header);
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  FitInfoColumn(list_);
}

void ListViewResultList::InsertTop(std::string_view field, std::string_view info) {
  RowStore* rows = RowsOf(list_);
  if (rows == nullptr) return;
  rows->rows.emplace_back(core::ToWide(field), core::ToWide(WithoutCdata(info)));
  SendMessageW(list_, LVM_SETITEMCOUNT, rows->rows.size(),
               LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  InvalidateRect(list_, nullptr, FALSE);
}

void ListViewResultList::Clear() {
  RowStore* rows = RowsOf(list_);
  if (rows == nullptr) return;
  rows->rows.clear();
  SendMessageW(list_, LVM_SETITEMCOUNT, 0, 0);
}

void ListViewResultList::Replace(ShownRows rows) {
  RowStore* store = RowsOf(list_);
  if (store == nullptr) return;
  // The old rows are freed after the control has let go of them.
  std::swap(store->rows, rows);
  SendMessageW(list_, LVM_SETITEMCOUNT, store->rows.size(), 0);
  InvalidateRect(list_, nullptr, FALSE);
}

int ListViewResultList::RowCount() const {
  const RowStore* rows = RowsOf(list_);
  return rows != nullptr ? static_cast<int>(rows->rows.size()) : 0;
}

std::wstring_view ListViewResultList::Cell(int row, int column) const {
  const RowStore* store = RowsOf(list_);
  if (store == nullptr || row < 0 || row >= RowCount() || column < 0 || column > 1) return {};
  const auto& cells = store->rows[store->rows.size() - 1 - static_cast<std::size_t>(row)];
  return column == 0 ? cells.first : cells.second;
}

void ListViewResultList::FillDisplayInfo(NMLVDISPINFOW& info) const {
  if ((info.item.mask & LVIF_TEXT) == 0 || info.item.pszText == nullptr ||
      info.item.cchTextMax <= 0) {
    return;
  }
  const std::wstring_view text = Cell(info.item.iItem, info.item.iSubItem);
  // The control gives room for what it draws; a longer text is cut to it.
  const std::size_t room = static_cast<std::size_t>(info.item.cchTextMax) - 1;
  const std::size_t length = std::min(text.size(), room);
  std::wmemcpy(info.item.pszText, text.data(), length);
  info.item.pszText[length] = L'\0';
}

std::optional<std::wstring> ListViewResultList::FocusedInfo() const {
  if (list_ == nullptr) return std::nullopt;
  int row = static_cast<int>(
      SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)));
  if (row < 0) return std::nullopt;
  return CellText(row, 1);
}

std::vector<int> ListViewResultList::SelectedRows() const {
  std::vector<int> selected;
  if (list_ == nullptr) return selected;
  const int count = RowCount();
  int row = -1;
  // Bounded by the row count, whatever the control answers.
  while (static_cast<int>(selected.size()) < count) {
    row = static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                        MAKELPARAM(LVNI_SELECTED, 0)));
    if (row < 0 || row >= count || (!selected.empty() && row <= selected.back())) break;
    selected.push_back(row);
  }
  return selected;
}

}  // namespace kestrune::ui
