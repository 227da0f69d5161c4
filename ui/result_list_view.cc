#include "ui/result_list_view.h"

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <string_view>

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

// A cell longer than this is not read back (nothing shown comes near it).
constexpr std::size_t kLargestCell = std::size_t{1} << 24;

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

}  // namespace

void ListViewResultList::Setup() {
  if (list_ == nullptr) return;
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, kExtendedStyles, kExtendedStyles);
  // The dialog has no font of its own, so its controls draw in the system
  // font; the list would pick a font of its own (the icon-title font), which
  // need not carry the Chinese region names the rest of the dialog shows.
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FONT)), FALSE);
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = kColumns[i].format;
    column.cx = kColumns[i].width;
    column.pszText = const_cast<wchar_t*>(kColumns[i].header);
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

void ListViewResultList::InsertTop(std::string_view field, std::string_view info) {
  if (list_ == nullptr) return;
  std::wstring field_text = core::ToWide(field);
  std::wstring info_text = core::ToWide(WithoutCdata(info));

  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = 0;
  item.pszText = field_text.data();
  item.lParam = 0;  // the index the row went in at
  int row =
      static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return;

  LVITEMW cell{};
  cell.mask = LVIF_TEXT;
  cell.iItem = row;
  cell.iSubItem = 1;
  cell.pszText = info_text.data();
  SendMessageW(list_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&cell));
}

void ListViewResultList::Clear() {
  if (list_ != nullptr) SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
}

int ListViewResultList::RowCount() const {
  if (list_ == nullptr) return 0;
  return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ListViewResultList::CellText(int row, int column) const {
  if (list_ == nullptr || row < 0 || row >= RowCount()) return {};
  // The control copies at most the room it is given and reports how much it
  // copied; a text that filled the room may be longer, so grow and ask again.
  std::wstring text(256, L'\0');
  for (;;) {
    if (text.size() > kLargestCell) return {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    auto copied = static_cast<std::size_t>(
        SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    if (copied + 1 < text.size()) {
      text.resize(copied);
      return text;
    }
    text.resize(text.size() * 2);
  }
}

std::optional<std::wstring> ListViewResultList::FocusedInfo() const {
  if (list_ == nullptr) return std::nullopt;
  int row = static_cast<int>(
      SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)));
  if (row < 0) return std::nullopt;
  return CellText(row, 1);
}

}  // namespace kestrune::ui
