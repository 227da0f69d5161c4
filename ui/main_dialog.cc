#include "ui/main_dialog.h"

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/action_kind.h"
#include "catalogue/catalogue.h"
#include "catalogue/dispatch.h"
#include "catalogue/parameters.h"
#include "core/wide_text.h"
#include "engine/destination.h"
#include "engine/engine.h"
#include "kestrune_version.h"
#include "report/samples.h"
#include "request/clock.h"
#include "request/endpoint.h"
#include "transport/proxy.h"
#include "ui/clipboard.h"
#include "ui/control_text.h"
#include "ui/credential_fields.h"
#include "ui/credential_store.h"
#include "ui/dialog_layout.h"
#include "ui/notify_icon.h"
#include "ui/parameter_form.h"
#include "ui/request_runner.h"
#include "ui/resource_ids.h"
#include "ui/result_export.h"
#include "ui/result_list_view.h"
#include "ui/wait_box.h"
#include "ui/window_placement.h"

namespace kestrune::ui {
namespace {

// What the report field says of a failed connection that gave no reason.
constexpr std::string_view kConnectionFailedText = "连接服务器失败!";

constexpr wchar_t kClassName[] = L"DLGCLASS";
constexpr wchar_t kTemplateName[] = L"MyDialog";
constexpr wchar_t kNotifyTip[] = L"Kestrune";

// The Send button's captions: idle, and while a request is in flight.
constexpr wchar_t kSendCaption[] = L"&Send";
constexpr wchar_t kCancelCaption[] = L"Cancel";
constexpr std::string_view kCancelledText = "request cancelled";

// A worker's outcome arrives as this message (see RequestRunner).
constexpr UINT kRequestDoneMessage = WM_APP + 1;

struct PopupItem {
  UINT id;
  const wchar_t* text;
};

// The notification icon's menu, in the order it shows.
constexpr std::array<PopupItem, 2> kPopupItems = {{
    {IDM_RESTORE, L"恢复"},
    {IDM_EXIT, L"退出"},
}};

// The result list's context menu, in the order it shows.
constexpr std::array<PopupItem, 5> kResultMenuItems = {{
    {IDM_COPY_VALUE, L"复制值(&V)"},
    {IDM_COPY_ROWS, L"复制行(&R)\tCtrl+C"},
    {IDM_COPY_ALL, L"全部复制为 TSV(&A)"},
    {IDM_SAVE_CSV, L"另存为 CSV(&S)..."},
    {IDM_SAVE_JSON, L"另存为 JSON(&J)..."},
}};

// Which services each product group holds; a group not named here holds none
// this program can call.
struct GroupService {
  std::string_view group;
  unsigned service;
};
constexpr std::array<GroupService, 3> kGroupServices = {{
    {"Elastic Compute", catalogue::kEcsService},
    {"Application", catalogue::kIotService},
    {"Application", catalogue::kApiGatewayService},
}};

struct SampleButton {
  int control_id;
  report::SampleAction action;
};

// The sample buttons, in the order they stand; each is captioned with its
// action's name in the template.
constexpr std::array<SampleButton, 6> kSampleButtons = {{
    {IDC_DESCRIBE_REGIONS, report::SampleAction::kDescribeRegions},
    {IDC_DESCRIBE_ZONES, report::SampleAction::kDescribeZones},
    {IDC_DESCRIBE_INSTANCE_STATUS, report::SampleAction::kDescribeInstanceStatus},
    {IDC_REBOOT_INSTANCE, report::SampleAction::kRebootInstance},
    {IDC_START_INSTANCE, report::SampleAction::kStartInstance},
    {IDC_STOP_INSTANCE, report::SampleAction::kStopInstance},
}};

// Selected position of a combo box, or nullopt when nothing is selected (or the
// control is absent).
std::optional<std::size_t> SelectedPosition(HWND dialog, int id) {
  HWND selector = GetDlgItem(dialog, id);
  if (selector == nullptr) return std::nullopt;
  LRESULT position = SendMessageW(selector, CB_GETCURSEL, 0, 0);
  if (position == CB_ERR || position < 0) return std::nullopt;
  return static_cast<std::size_t>(position);
}

// Replaces a selector's entries (UTF-8) and selects `selection` (-1: none).
template <typename Entries>
void FillSelector(HWND dialog, int id, const Entries& entries, int selection) {
  HWND selector = GetDlgItem(dialog, id);
  if (selector == nullptr) return;
  SendMessageW(selector, CB_RESETCONTENT, 0, 0);
  for (std::string_view entry : entries) {
    std::wstring text = core::ToWide(entry);
    SendMessageW(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

// The entries of a packed list, for FillSelector.
// cppcheck-suppress passedByValue ; StringListView is a two-word view, passed like string_view
std::vector<std::string_view> Entries(core::StringListView list) {
  std::vector<std::string_view> entries;
  for (std::size_t n = 1; n <= list.Count(); ++n) entries.push_back(list.Entry(n));
  return entries;
}

// The engine's options with the endpoint override, the CA file and the
// proxies of the environment, as the command line takes them when --endpoint,
// --ca-file and --proxy are not given. A malformed proxy fails each Send with a
// message that says so.
engine::EngineOptions EngineOptionsFromEnvironment() {
  engine::EngineOptions options;
  auto variable = [](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
  };
  // The region a Send goes to is the form's RegionId (engine/destination.h);
  // the endpoint variables are read as the command line reads them.
  engine::EndpointTexts endpoints;
  endpoints.vendor = variable("ALIBABA_CLOUD_ENDPOINT");
  endpoints.send_to = variable(request::kEndpointVariable);
  if (!engine::ChooseEndpoint(endpoints, options).ok()) {
    // The malformed text fails every Send with a message that says so,
    // never falling back to the service itself.
    const bool vendor_bad =
        endpoints.vendor && !request::ParseEndpointOverride(*endpoints.vendor).ok();
    options.endpoint_override = vendor_bad ? *endpoints.vendor : endpoints.send_to.value_or("");
  }
  const transport::ProxyTexts proxy = transport::ChooseProxyTexts(
      [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
      },
      std::nullopt);
  options.http_proxy = proxy.http;
  options.https_proxy = proxy.https;
  options.no_proxy = proxy.no_proxy;
  // Parsed once here; a malformed text stays unparsed so that the engine
  // fails each Send with its message.
  if (core::Result<engine::Route> route = engine::ResolveRoute(options); route.ok()) {
    options.route = std::move(route.value());
  }
  const std::string ca_variable(request::kCaFileVariable);
  if (const char* ca_file = std::getenv(ca_variable.c_str()); ca_file && *ca_file) {
    options.ca_file = ca_file;
  }
  return options;
}

// The template's sample values as hints for its captioned fields, entry k for
// parameter k (the values list without its first entry, the action); none for
// an entry without a template.
core::StringListView SampleHints(const catalogue::ResolvedAction& action) {
  if (action.request_template == nullptr) return {};
  const std::string_view packed = action.request_template->values.packed();
  const std::size_t first_end = packed.find('\0');
  if (first_end == std::string_view::npos) return {};
  return core::StringListView(packed.substr(first_end + 1));
}

// The DPI the window is drawn for: its monitor's where the system tells it
// (Windows 10 and later), else the screen's.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
    if (auto get_dpi = reinterpret_cast<GetDpiForWindowFunction>(
            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))) {
      if (UINT dpi = get_dpi(window); dpi != 0) return dpi;
    }
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

// The parameters of `values` bound for `action` and checked against the
// action's list, as a Send binds and checks them: a name the list does not
// hold, a required one missing, a value not of its type.
core::Status CheckParameters(const catalogue::ResolvedAction& action,
                             const catalogue::ParameterValues& values) {
  std::optional<core::Result<catalogue::BoundRequest>> bound =
      catalogue::BindResolved(action, values);
  if (!bound) return core::Status::Ok();  // nothing to send: the engine says so
  if (!bound->ok()) return bound->status();
  return catalogue::CheckBoundParameters(action, bound->value(), false);
}

// The numbers of the services of a product group, in catalogue order.
std::vector<unsigned> ServicesOfGroup(std::string_view group) {
  std::vector<unsigned> numbers;
  for (const GroupService& entry : kGroupServices) {
    if (entry.group == group) numbers.push_back(entry.service);
  }
  return numbers;
}

// Asks the user where to save the rows, with the common Save As dialog.
std::optional<std::wstring> AskSavePath(HWND owner, const std::wstring& extension) {
  std::wstring path = L"results." + extension;
  path.resize(32768, L'\0');
  std::wstring filter =
      extension == L"csv" ? std::wstring(L"CSV (*.csv)", 11) : std::wstring(L"JSON (*.json)", 13);
  filter += L'\0';
  filter += L"*." + extension;
  filter += L'\0';
  filter += L'\0';
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = extension.c_str();
  // The working directory holds the credential file: it must not move.
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  path.resize(std::wcslen(path.c_str()));
  return path;
}

class MainDialog {
 public:
  explicit MainDialog(HWND dialog) : dialog_(dialog) {}
  // Deleted at WM_NCDESTROY, when no control is left to draw with the font.
  ~MainDialog() {
    if (scaled_font_ != nullptr) DeleteObject(scaled_font_);
  }
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  LRESULT OnCreate();
  LRESULT OnInitDialog(const MainDialogOptions* options);
  LRESULT OnNotifyIcon(UINT mouse_message);
  LRESULT OnCommand(int id, int code, HWND control);
  LRESULT OnNotify(const NMHDR& header);
  LRESULT OnNextDialogControl(WPARAM which, bool is_handle);
  LRESULT OnGetDefaultId();
  LRESULT OnSetCursor(WPARAM wparam, LPARAM lparam);
  LRESULT OnDpiChanged(UINT dpi, const RECT& suggested);
  LRESULT OnGetMinMaxInfo(MINMAXINFO& info) const;
  LRESULT OnRequestDone(LPARAM lparam);
  LRESULT OnActivate(bool active);
  LRESULT OnDestroy();

  void OnControlCommand(int id, int code);
  void OnDialogCommand(int id);
  void OnSample(report::SampleAction action);
  void OnServiceSelected();
  void OnCategorySelected();
  void OnActionSelected();
  void OnRegionSelected();
  void OnSend();
  // Gives up the request in flight: its outcome, whenever it comes, is dropped.
  void Abandon();
  void SetInFlight(bool in_flight);
  // Closes the dialog; with a request in flight, only when the user agrees.
  void RequestClose();
  // Gives the focus back to the control that had it when the dialog was
  // last left, or to the first control when that one can no longer take it.
  void RestoreFocus();
  // Keeps the control that has the focus now, if it is one of the dialog's.
  // Every control notification calls this: a minimise may take the focus
  // away before the window learns it is being left.
  void NoteFocus();
  void ShowAbout();
  void ShowPopupMenu();
  void CopyClickedRow();
  // The result list's context menu at `where` (screen coordinates; -1 when
  // opened from the keyboard: then at the focused row).
  void ShowResultMenu(LPARAM where);
  void OnResultCommand(UINT id);
  // The rows given (every row when `rows` is empty and `all` is set) onto the
  // clipboard as tab-separated lines.
  void CopyRows(const std::vector<int>& rows, bool all);
  void SaveRows(const std::wstring& extension);
  std::vector<ExportRow> ExportRows(const std::vector<int>& rows) const;
  void OnProductGroupSelected();
  // The catalogue's position of the service the service selector shows.
  std::optional<std::size_t> ChosenServicePosition() const;
  void OnRememberKeysClicked();
  // After a successful Send with "Remember keys" checked: keeps the pair
  // sent; what to add to the report when that did not go as asked.
  std::string KeepKeys(const request::Credentials& sent);

  // Refills the action selector with the list of the category now shown and
  // selects `selection` (-1: none), then fits the form to it.
  void RefillActions(int selection);
  // The sendable action the three selectors show, if any.
  std::optional<catalogue::ResolvedAction> ChosenAction() const;
  // Fits the parameter form to the chosen action (hidden when there is none).
  // A value typed under a parameter name stays only where the new action has
  // a parameter of that name; every other captioned field is emptied.
  void UpdateParameterForm();
  // For an action that changes something: asks the user, naming the action
  // and what it acts on; true when the request may go.
  bool ConfirmChange(const catalogue::ResolvedAction& action, const ParameterFormInput& input);
  // Where a request for `action` goes: the override's address, or the service's host.
  std::string Destination(const catalogue::ResolvedAction& action,
                          const catalogue::ParameterValues& values) const;
  // cppcheck-suppress returnTempReference ; both operands are lvalues of TraceSink: no temporary
  report::TraceSink& trace() { return trace_ != nullptr ? *trace_ : debug_viewer_; }

  HWND dialog_;
  HINSTANCE instance_ = nullptr;
  HMENU popup_menu_ = nullptr;
  ListViewResultList result_list_;
  NotifyIcon notify_icon_;
  CredentialFields credentials_;
  CredentialStore store_;
  std::string credential_file_;
  // Why the credential file could not be loaded at start; empty when it was.
  std::string credential_problem_;
  // The user agreed to keep the pair in the credential file in plain text,
  // the credential store being unavailable.
  bool file_fallback_agreed_ = false;
  std::function<std::optional<std::wstring>(HWND, const std::wstring&)> choose_save_path_;
  // The services the service selector offers, by number, in its order.
  std::vector<unsigned> shown_services_;
  report::SampleState samples_;
  report::TraceSink* trace_ = nullptr;
  report::DebugViewerSink debug_viewer_;
  engine::EngineOptions engine_options_;
  RequestRunner runner_;
  // Each request's number; 0 is never used.
  std::uint64_t last_generation_ = 0;
  // The generation whose outcome the dialog waits for; 0 when idle.
  std::uint64_t awaited_ = 0;
  // The wait of the request in flight, if it has one, and how to give it up.
  std::optional<engine::WaitPlan> waiting_;
  std::shared_ptr<std::atomic<bool>> wait_cancel_;
  // The template's font, which the dialog manager made and gave every control.
  HFONT dialog_font_ = nullptr;
  // The dialog font scaled for a monitor's DPI after a DPI change; nullptr
  // while the template's font is in use.
  HFONT scaled_font_ = nullptr;
  DialogLayout layout_;
  bool taking_suggestion_ = false;
  std::wstring placement_key_;
  UINT dpi_ = 0;
  // The request in flight, for the header row its reply gets.
  struct SentRequest {
    std::string action;
    std::string region;
    std::string time;  // local wall-clock time the request went, "HH:MM:SS"
    ULONGLONG started_ms = 0;
    request::Credentials credentials;
  } sent_;
  // The request parameter names of the captioned fields on show, in order.
  std::vector<std::string> form_names_;
  // The control that had the focus when the dialog was last deactivated.
  HWND saved_focus_ = nullptr;
};

LRESULT MainDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate();
    case WM_INITDIALOG:
      return OnInitDialog(reinterpret_cast<const MainDialogOptions*>(lparam));
    case kNotifyIconMessage:
      return OnNotifyIcon(static_cast<UINT>(lparam));
    case WM_COMMAND:
      return OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wparam) == result_list_.handle()) {
        ShowResultMenu(lparam);
        return 0;
      }
      return DefWindowProcW(dialog_, message, wparam, lparam);
    case WM_NEXTDLGCTL:
      return OnNextDialogControl(wparam, lparam != 0);
    case DM_GETDEFID:
      return OnGetDefaultId();
    case WM_SETCURSOR:
      return OnSetCursor(wparam, lparam);
    case WM_DPICHANGED:
      return OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
    case WM_SETFONT:
      // Sent by the dialog manager before WM_INITDIALOG; the default window
      // procedure would not keep it.
      dialog_font_ = reinterpret_cast<HFONT>(wparam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(scaled_font_ != nullptr ? scaled_font_ : dialog_font_);
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) layout_.Apply();
      return 0;
    case WM_GETMINMAXINFO:
      return OnGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lparam));
    case WM_VSCROLL:
      layout_.Scroll(LOWORD(wparam));
      return 0;
    case kRequestDoneMessage:
      return OnRequestDone(lparam);
    case WM_ACTIVATE:
      return OnActivate(LOWORD(wparam) != WA_INACTIVE);
    case WM_SETFOCUS:
      // The window itself never keeps the focus: keys typed then would
      // reach no field, or the selector Windows hands the focus to.
      RestoreFocus();
      return 0;
    case WM_CLOSE:
      RequestClose();
      return 0;
    case WM_DESTROY:
      return OnDestroy();
    default:
      return DefWindowProcW(dialog_, message, wparam, lparam);
  }
}

LRESULT MainDialog::OnCreate() {
  popup_menu_ = CreatePopupMenu();
  if (popup_menu_ != nullptr) {
    for (const PopupItem& item : kPopupItems) {
      AppendMenuW(popup_menu_, MF_STRING, item.id, item.text);
    }
  }
  return 0;
}

LRESULT MainDialog::OnInitDialog(const MainDialogOptions* options) {
  MainDialogOptions defaults;
  if (options == nullptr) options = &defaults;
  instance_ = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog_, GWLP_HINSTANCE));
  trace_ = options->trace;
  dpi_ = WindowDpi(dialog_);

  result_list_ = ListViewResultList(GetDlgItem(dialog_, IDC_RESULT_LIST));
  result_list_.Setup();

  engine_options_ = EngineOptionsFromEnvironment();
  runner_.Open(dialog_, kRequestDoneMessage);

  credential_file_ = options->credential_file;
  credentials_ = CredentialFields(dialog_, options->credential_file);
  core::Status loaded = credentials_.Load();
  if (!loaded.ok()) {
    credential_problem_ = loaded.message();
    SetControlText(dialog_, IDC_REPORT, loaded.message());
  }
  // A pair the user asked to remember stands above the file's.
  store_ = CredentialStore(options->credential_target);
  core::Result<std::optional<request::Credentials>> kept = store_.Read();
  if (!kept.ok()) {
    SetControlText(dialog_, IDC_REPORT, kept.status().message());
  } else if (kept.value()) {
    SetControlText(dialog_, IDC_KEY_ID, kept.value()->access_key_id);
    SetControlText(dialog_, IDC_KEY_SECRET, kept.value()->access_key_secret.view());
    CheckDlgButton(dialog_, IDC_REMEMBER_KEYS, BST_CHECKED);
  }
  choose_save_path_ = options->choose_save_path;

  SetUpParameterForm(dialog_);
  SetUpWaitBox(dialog_);
  // The template's places are the smallest layout.
  layout_.Capture(dialog_);
  placement_key_ = options->placement_key;

  FillSelector(dialog_, IDC_REGION, Entries(catalogue::Regions()), 0);
  FillSelector(dialog_, IDC_PRODUCT_GROUP, Entries(catalogue::ProductGroups()), 0);
  OnProductGroupSelected();
  // The actions of the category on show are offered at once, none chosen yet,
  // so the form starts empty.
  RefillActions(-1);

  if (options->notify_icon) {
    auto icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_KESTRUNE), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    notify_icon_.Add(dialog_, kNotifyIconMessage, icon, kNotifyTip);
  }
  return 0;
}

LRESULT MainDialog::OnNotifyIcon(UINT mouse_message) {
  if (mouse_message == WM_RBUTTONDOWN) ShowPopupMenu();
  if (mouse_message == WM_LBUTTONDBLCLK) SendMessageW(dialog_, WM_COMMAND, IDM_RESTORE, 0);
  return 0;
}

void MainDialog::ShowPopupMenu() {
  if (popup_menu_ == nullptr) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  SetForegroundWindow(dialog_);
  TrackPopupMenu(popup_menu_, TPM_RIGHTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, dialog_,
                 nullptr);
  // Lets the menu close properly when the user clicks elsewhere.
  PostMessageW(dialog_, WM_NULL, 0, 0);
}

LRESULT MainDialog::OnCommand(int id, int code, HWND control) {
  NoteFocus();
  if (control == nullptr) {
    OnDialogCommand(id);
  } else {
    OnControlCommand(id, code);
  }
  return 0;
}

void MainDialog::OnDialogCommand(int id) {
  switch (id) {
    case IDM_COPY_VALUE:
    case IDM_COPY_ROWS:
    case IDM_COPY_ALL:
    case IDM_SAVE_CSV:
    case IDM_SAVE_JSON:
      OnResultCommand(static_cast<UINT>(id));
      return;
    case IDM_RESTORE:
      ShowWindow(dialog_, SW_RESTORE);
      SetForegroundWindow(dialog_);
      RestoreFocus();
      return;
    case IDOK:
      // Enter where no default button answers: sends when idle, and never
      // closes the program under the user's typing.
      if (awaited_ == 0) OnSend();
      return;
    case IDCANCEL:
      // Esc gives up the request in flight; otherwise it does nothing, so
      // that a stray key never closes the program.
      if (awaited_ != 0) Abandon();
      return;
    default:
      // The menu's exit and the exit button.
      RequestClose();
      return;
  }
}

void MainDialog::OnControlCommand(int id, int code) {
  if (code == BN_CLICKED) {
    for (const SampleButton& button : kSampleButtons) {
      if (button.control_id == id) {
        OnSample(button.action);
        return;
      }
    }
    switch (id) {
      case IDC_EXIT:
        SendMessageW(dialog_, WM_COMMAND, IDM_EXIT, 0);
        return;
      case IDC_ABOUT:
        ShowAbout();
        return;
      case IDC_SEND:
        OnSend();
        return;
      case IDC_CLEAR:
        result_list_.Clear();
        SetControlText(dialog_, IDC_COPIED_VALUE, "");
        return;
      case IDC_REMEMBER_KEYS:
        OnRememberKeysClicked();
        return;
      default:
        return;
    }
  }
  if (code == CBN_SELCHANGE) {
    switch (id) {
      case IDC_PRODUCT_GROUP:
        OnProductGroupSelected();
        RefillActions(0);
        return;
      case IDC_SERVICE:
        OnServiceSelected();
        return;
      case IDC_CATEGORY:
        OnCategorySelected();
        return;
      case IDC_ACTION:
        OnActionSelected();
        return;
      case IDC_REGION:
        OnRegionSelected();
        return;
      default:
        return;
    }
  }
}

LRESULT MainDialog::OnNotify(const NMHDR& header) {
  NoteFocus();
  if (header.idFrom != IDC_RESULT_LIST) return 0;
  if (header.code == LVN_GETDISPINFOW) {
    result_list_.FillDisplayInfo(reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header)));
  } else if (header.code == LVN_GETINFOTIPW) {
    // A cut-off cell shows its whole text when the pointer rests on its row.
    auto& tip = reinterpret_cast<NMLVGETINFOTIPW&>(const_cast<NMHDR&>(header));
    const std::wstring text =
        result_list_.CellText(tip.iItem, 0) + L": " + result_list_.CellText(tip.iItem, 1);
    if (tip.pszText != nullptr && tip.cchTextMax > 0) {
      wcsncpy(tip.pszText, text.c_str(), static_cast<std::size_t>(tip.cchTextMax) - 1);
      tip.pszText[tip.cchTextMax - 1] = L'\0';
    }
  } else if (header.code == NM_CLICK) {
    CopyClickedRow();
  } else if (header.code == LVN_KEYDOWN) {
    const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
    if (key.wVKey == 'C' && GetKeyState(VK_CONTROL) < 0)
      CopyRows(result_list_.SelectedRows(), false);
  }
  // A right-click (NM_RCLICK answered with 0) goes on as WM_CONTEXTMENU.
  return 0;
}

// The dialog's keyboard handling asks for the next control on Tab and
// Shift+Tab. The default window procedure ignores that request (only the
// default dialog procedure knows it), so it is answered here.
LRESULT MainDialog::OnNextDialogControl(WPARAM which, bool is_handle) {
  HWND next = is_handle ? reinterpret_cast<HWND>(which)
                        : GetNextDlgTabItem(dialog_, GetFocus(), which != 0);
  if (next == nullptr) return 0;
  SetFocus(next);
  layout_.Reveal(next);
  if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
    SendMessageW(next, EM_SETSEL, 0, -1);
  }
  return 0;
}

// The button Enter presses. As in any dialog, a push button with the focus
// answers Enter itself; otherwise Send, the default button, does when no
// request is in flight. While one is, the dialog's keyboard handling falls
// back to IDOK, which then does nothing, so that Enter never cancels by
// surprise.
LRESULT MainDialog::OnGetDefaultId() {
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(dialog_, focus) &&
      (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON) != 0) {
    return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
  }
  return awaited_ == 0 ? MAKELRESULT(IDC_SEND, DC_HASDEFID) : 0;
}

// While a request is in flight the pointer over the dialog says that work
// goes on in the background, yet the dialog still takes clicks (Cancel among
// them). Elsewhere on the desktop the pointer is left alone.
LRESULT MainDialog::OnSetCursor(WPARAM wparam, LPARAM lparam) {
  const auto over = reinterpret_cast<HWND>(wparam);
  if (awaited_ != 0 && LOWORD(lparam) == HTCLIENT && (over == dialog_ || IsChild(dialog_, over))) {
    SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
    return TRUE;
  }
  return DefWindowProcW(dialog_, WM_SETCURSOR, wparam, lparam);
}

// The window moved to a monitor of another DPI: every control keeps its place
// in dialog units, so each is scaled by the DPI's ratio, the text gets a font
// scaled alike, and the window takes the rectangle the system suggests.
LRESULT MainDialog::OnDpiChanged(UINT dpi, const RECT& suggested) {
  const UINT old_dpi = dpi_ != 0 ? dpi_ : USER_DEFAULT_SCREEN_DPI;
  dpi_ = dpi;
  if (dpi != 0 && dpi != old_dpi) {
    layout_.Scale(static_cast<int>(dpi), static_cast<int>(old_dpi));
    // The Field column keeps its share of the text; Info takes the rest as
    // the list is resized.
    HWND list = GetDlgItem(dialog_, IDC_RESULT_LIST);
    const auto field = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0,
                 MAKELPARAM(MulDiv(field, static_cast<int>(dpi), static_cast<int>(old_dpi)), 0));
    LOGFONTW font{};
    HFONT current = scaled_font_ != nullptr ? scaled_font_ : dialog_font_;
    if (current == nullptr) current = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HFONT scaled = nullptr;
    if (GetObjectW(current, sizeof(font), &font) == sizeof(font)) {
      font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(old_dpi));
      font.lfWidth = MulDiv(font.lfWidth, static_cast<int>(dpi), static_cast<int>(old_dpi));
      scaled = CreateFontIndirectW(&font);
    }
    if (scaled != nullptr) {
      for (HWND child = GetWindow(dialog_, GW_CHILD); child != nullptr;
           child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), TRUE);
      }
      if (scaled_font_ != nullptr) DeleteObject(scaled_font_);
      scaled_font_ = scaled;
    }
  }
  // The suggested rectangle is taken as it is, even a pixel below the
  // smallest size that rounding made.
  taking_suggestion_ = true;
  SetWindowPos(dialog_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  taking_suggestion_ = false;
  layout_.Apply();
  return 0;
}

// The smallest window is the template's layout; on a monitor too low for it,
// the window may be as low as the monitor and its client area scrolls.
LRESULT MainDialog::OnGetMinMaxInfo(MINMAXINFO& info) const {
  if (taking_suggestion_) return 0;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!GetMonitorInfoW(MonitorFromWindow(dialog_, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return 0;
  }
  const SIZE smallest = layout_.MinimumWindowSize(monitor.rcWork);
  if (smallest.cx > 0 && smallest.cy > 0) info.ptMinTrackSize = {smallest.cx, smallest.cy};
  return 0;
}

// Windows dialogs keep the focus across deactivation this way: saved when
// the window is left (for another program, a message box, the tray), given
// back when it is activated again.
LRESULT MainDialog::OnActivate(bool active) {
  if (!active) {
    NoteFocus();
    return 0;
  }
  if (!IsIconic(dialog_)) RestoreFocus();
  return 0;
}

void MainDialog::NoteFocus() {
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(dialog_, focus)) saved_focus_ = focus;
}

void MainDialog::RestoreFocus() {
  HWND target = saved_focus_;
  // A combo box's edit part or a list's header has a parent in between.
  if (target == nullptr || !IsChild(dialog_, target) || !IsWindowVisible(target) ||
      !IsWindowEnabled(target)) {
    target = GetNextDlgTabItem(dialog_, nullptr, FALSE);
  }
  if (target != nullptr) SetFocus(target);
}

void MainDialog::RequestClose() {
  if (awaited_ != 0 &&
      MessageBoxW(dialog_, L"A request is still waiting for its reply.\n\nClose Kestrune anyway?",
                  L"Kestrune", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
    return;
  }
  DestroyWindow(dialog_);
}

LRESULT MainDialog::OnDestroy() {
  SaveWindowPlacement(dialog_, placement_key_);
  // A request still in flight finishes in the background; its outcome is freed there.
  runner_.Close();
  if (wait_cancel_) wait_cancel_->store(true);
  awaited_ = 0;
  notify_icon_.Remove();
  if (popup_menu_ != nullptr) {
    DestroyMenu(popup_menu_);
    popup_menu_ = nullptr;
  }
  PostQuitMessage(0);
  return 0;
}

void MainDialog::SetInFlight(bool in_flight) {
  SetDlgItemTextW(dialog_, IDC_SEND, in_flight ? kCancelCaption : kSendCaption);
  // The pointer changes at once, not only when the mouse next moves.
  POINT cursor{};
  GetCursorPos(&cursor);
  if (WindowFromPoint(cursor) == dialog_ || IsChild(dialog_, WindowFromPoint(cursor))) {
    SetCursor(LoadCursorW(nullptr, in_flight ? IDC_APPSTARTING : IDC_ARROW));
  }
}

void MainDialog::Abandon() {
  trace().Line("request " + std::to_string(awaited_) + " cancelled");
  // A wait stops before its next call instead of polling on unseen.
  if (wait_cancel_) wait_cancel_->store(true);
  awaited_ = 0;
  SetInFlight(false);
  SetControlText(dialog_, IDC_REPORT, kCancelledText);
}

LRESULT MainDialog::OnRequestDone(LPARAM lparam) {
  std::unique_ptr<RequestOutcome> outcome = RequestRunner::Take(lparam);
  if (outcome == nullptr) return 0;
  if (awaited_ == 0 || outcome->generation != awaited_) {
    // Given up: nothing of it is shown, not even its trace lines.
    trace().Line("request " + std::to_string(outcome->generation) +
                 " finished after it was cancelled; its outcome is dropped");
    return 0;
  }
  awaited_ = 0;
  SetInFlight(false);
  if (!outcome->credential_source.empty()) credentials_.ShowSource(outcome->credential_source);
  trace().Lines(std::move(outcome->trace_lines));
  // A measured clock offset holds for every later request of the session.
  engine_options_.clock_offset = outcome->clock_offset;
  const engine::RequestResult& result = outcome->result;
  // The rows arrive ready to show: nothing here is done per row, so a reply
  // of thousands of rows costs the window no more than a short one.
  ShownRows rows = std::move(outcome->rows);
  const std::size_t records = rows.size();
  const ULONGLONG elapsed = GetTickCount64() - sent_.started_ms;
  std::string status;
  switch (result.outcome) {
    case engine::Outcome::kGoodReply:
      status = "OK";
      break;
    case engine::Outcome::kRefused:
      status = "not sent";
      break;
    case engine::Outcome::kConnectionFailed:
      status = "connection failed";
      break;
    case engine::Outcome::kErrorReply: {
      std::wstring_view code;
      // The bottom-most Code row on screen, the first kept.
      for (const auto& [field, info] : rows) {
        if (field == L"Code") {
          code = info;
          break;
        }
      }
      status = "Error " +
               (code.empty() ? std::to_string(result.reply.head.status) : core::FromWide(code));
      break;
    }
    default:
      status = result.result_text.empty() ? "error" : result.result_text;
      break;
  }
  const std::string timing = std::to_string(elapsed) + " ms";
  // The header row stands above the reply's rows, which keep their order.
  RowCollector header;
  header.InsertTop(
      sent_.time + " " + sent_.action,
      (sent_.region.empty() ? std::string("-") : sent_.region) + " · " + status + " · " + timing);
  rows.push_back(std::move(header.rows().front()));
  // A sample shown while the request was in flight gives way to the reply.
  result_list_.Replace(std::move(rows));
  std::string report;
  if (result.outcome == engine::Outcome::kGoodReply) {
    report = "OK · " + std::to_string(records) + " records · " + timing;
    report += KeepKeys(sent_.credentials);
  } else if (result.outcome == engine::Outcome::kRefused ||
             (result.outcome == engine::Outcome::kConnectionFailed && !result.detail.empty())) {
    // A refusal or a failed connection has no report text of its own; its
    // reason is what the user needs.
    report = result.detail;
  } else if (result.outcome == engine::Outcome::kErrorReply) {
    report = status + " · " + timing;
  } else if (result.outcome == engine::Outcome::kConnectionFailed) {
    report = kConnectionFailedText;  // and no reason given
  } else {
    report = result.result_text.empty() ? result.detail : result.result_text;
  }
  sent_.credentials = {};
  // Never an empty status after a reply: at least what the header row says.
  if (report.empty()) report = status + " · " + timing;
  if (waiting_ && outcome->waited) {
    report = WaitReport(*waiting_, *outcome->waited, sent_.action, report);
  }
  SetControlText(dialog_, IDC_REPORT, report);
  return 0;
}

void MainDialog::OnSample(report::SampleAction action) {
  // A request always goes to the service of the action on screen, so the
  // samples need not touch any endpoint.
  report::ShowSample(action, samples_, result_list_, report::DisplayText());
  SetControlText(dialog_, IDC_REPORT,
                 "Sample: " + std::string(report::SampleActionName(action)) +
                     " (built-in data, nothing was sent)");
}

void MainDialog::OnProductGroupSelected() {
  shown_services_ = ServicesOfGroup(ControlText(dialog_, IDC_PRODUCT_GROUP));
  std::vector<std::string_view> names;
  for (unsigned number : shown_services_) names.push_back(catalogue::FindService(number)->name);
  FillSelector(dialog_, IDC_SERVICE, names, names.empty() ? -1 : 0);
  std::optional<std::size_t> service = ChosenServicePosition();
  FillSelector(
      dialog_, IDC_CATEGORY,
      service ? Entries(catalogue::CategoryList(*service)) : std::vector<std::string_view>{},
      service ? 0 : -1);
}

std::optional<std::size_t> MainDialog::ChosenServicePosition() const {
  std::optional<std::size_t> position = SelectedPosition(dialog_, IDC_SERVICE);
  if (!position || *position >= shown_services_.size()) return std::nullopt;
  return catalogue::ServicePosition(shown_services_[*position]);
}

void MainDialog::OnServiceSelected() {
  std::optional<std::size_t> position = ChosenServicePosition();
  if (!position) return;
  FillSelector(dialog_, IDC_CATEGORY, Entries(catalogue::CategoryList(*position)), 0);
  // The actions on show always belong to the category on show.
  RefillActions(0);
}

void MainDialog::OnCategorySelected() {
  std::optional<std::size_t> position = SelectedPosition(dialog_, IDC_CATEGORY);
  if (!position) return;
  RefillActions(0);
}

void MainDialog::OnActionSelected() {
  std::optional<std::size_t> position = SelectedPosition(dialog_, IDC_ACTION);
  if (!position) return;
  UpdateParameterForm();
}

void MainDialog::OnRegionSelected() {
  std::optional<std::size_t> position = SelectedPosition(dialog_, IDC_REGION);
  if (!position) return;
  samples_.SelectRegionPosition(static_cast<std::uint32_t>(*position));
}

void MainDialog::RefillActions(int selection) {
  std::optional<std::size_t> service = ChosenServicePosition();
  std::optional<std::size_t> category = SelectedPosition(dialog_, IDC_CATEGORY);
  core::StringListView actions;
  if (service && category) actions = catalogue::ActionList(*service, *category);
  if (actions.Count() == 0) selection = -1;
  FillSelector(dialog_, IDC_ACTION, Entries(actions), selection);
  UpdateParameterForm();
}

std::optional<catalogue::ResolvedAction> MainDialog::ChosenAction() const {
  std::optional<std::size_t> service = ChosenServicePosition();
  std::optional<std::size_t> category = SelectedPosition(dialog_, IDC_CATEGORY);
  std::optional<std::size_t> action = SelectedPosition(dialog_, IDC_ACTION);
  if (!service || !category || !action) return std::nullopt;
  return catalogue::ResolveBrowsingEntry(*service, *category, *action);
}

void MainDialog::UpdateParameterForm() {
  // The values on show, under the names they were typed for.
  const ParameterFormInput before = ReadParameterForm(dialog_);
  std::vector<std::pair<std::string, std::string>> typed;
  for (std::size_t k = 0; k < before.fields.size() && k < form_names_.size(); ++k) {
    typed.emplace_back(form_names_[k], before.fields[k]);
  }
  form_names_.clear();
  std::optional<catalogue::ResolvedAction> chosen = ChosenAction();
  if (chosen && chosen->request_template != nullptr) {
    for (std::string_view name : Entries(chosen->request_template->parameter_names())) {
      form_names_.emplace_back(name);
    }
  }
  // Each value goes to the first field of its name not yet filled, so a name
  // that occurs twice keeps both of its values in their order.
  std::vector<std::string> values(kCaptionedFields);
  for (std::size_t k = 0; k < form_names_.size() && k < values.size(); ++k) {
    auto found = std::find_if(typed.begin(), typed.end(),
                              [&](const auto& entry) { return entry.first == form_names_[k]; });
    if (found == typed.end()) continue;
    values[k] = std::move(found->second);
    typed.erase(found);
  }
  FillParameterFields(dialog_, values);
  // The free pairs offer what the captioned fields do not hold.
  std::vector<OfferedName> offered;
  if (chosen) {
    if (std::optional<std::vector<catalogue::ParameterInfo>> known =
            catalogue::KnownParameters(chosen->service, chosen->action_name)) {
      for (const catalogue::ParameterInfo& parameter : *known) {
        if (std::find(form_names_.begin(), form_names_.end(), parameter.name) !=
            form_names_.end()) {
          continue;
        }
        offered.push_back(OfferedName{parameter.name, parameter.required});
      }
    }
  }
  OfferFreeNames(dialog_, offered);
  if (!chosen) {
    HideParameterForm(dialog_);
    return;
  }
  ShowParameterForm(dialog_, catalogue::DisplayCaptions(*chosen), SampleHints(*chosen));
}

bool MainDialog::ConfirmChange(const catalogue::ResolvedAction& action,
                               const ParameterFormInput& input) {
  if (catalogue::KindOfAction(action.service, action.action_name) ==
      catalogue::ActionKind::kReadOnly) {
    return true;
  }
  // The target: every named value but the region, which the status already
  // shows; the free pairs count as much as the captioned fields.
  std::string target;
  auto add = [&](std::string_view name, std::string_view value) {
    if (value.empty() || name.empty() || name == "RegionId") return;
    target += "\n    " + std::string(name) + " = " + std::string(value);
  };
  for (std::size_t k = 0; k < input.fields.size() && k < form_names_.size(); ++k) {
    add(form_names_[k], input.fields[k]);
  }
  for (const auto& [name, value] : input.pairs) add(name, value);
  if (target.empty()) target = "\n    (no resource named)";
  const std::wstring question =
      core::ToWide(action.action_name + " changes resources in the cloud. It acts on:" + target +
                   "\n\nSend " + action.action_name + "?");
  const std::wstring title = core::ToWide("Confirm " + action.action_name);
  return MessageBoxW(dialog_, question.c_str(), title.c_str(),
                     MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) == IDOK;
}

void MainDialog::OnSend() {
  if (awaited_ != 0) {
    // The button reads Cancel while a request is in flight.
    Abandon();
    return;
  }
  std::optional<catalogue::ResolvedAction> chosen = ChosenAction();
  if (!chosen) {
    SetControlText(dialog_, IDC_REPORT, "not sent: choose an action first");
    return;
  }
  request::Credentials credentials = credentials_.Current();
  if (credentials.access_key_secret.empty() && !credential_problem_.empty()) {
    // The file meant to give the secret could not: never sign with nothing.
    SetControlText(dialog_, IDC_REPORT, "not sent: no AccessKey secret; " + credential_problem_);
    return;
  }

  // Only what the form shows is sent: its visible texts, never a hint.
  const ParameterFormInput input = ReadParameterForm(dialog_);
  const std::vector<std::string_view> fields(input.fields.begin(), input.fields.end());
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  for (const auto& [name, value] : input.pairs) pairs.emplace_back(name, value);
  core::Result<catalogue::ParameterValues> values =
      catalogue::ParameterValues::FromForm(chosen->request_template, fields, pairs);
  if (!values.ok()) {
    SetControlText(dialog_, IDC_REPORT, values.status().message());
    return;
  }
  core::Result<std::optional<engine::WaitPlan>> wait = ReadWaitBox(dialog_);
  if (!wait.ok()) {
    SetControlText(dialog_, IDC_REPORT, wait.status().message());
    return;
  }
  if (wait.value() && catalogue::KindOfAction(chosen->service, chosen->action_name) !=
                          catalogue::ActionKind::kReadOnly) {
    // Waiting repeats the request: a change would be made again each time.
    SetControlText(
        dialog_, IDC_REPORT,
        "not sent: waiting repeats the request, so it takes an action that only reads; " +
            chosen->action_name + " changes resources");
    return;
  }
  // Checked as the engine checks it, before the user is asked to confirm
  // a request that would only be refused.
  if (core::Status checked = CheckParameters(*chosen, values.value()); !checked.ok()) {
    SetControlText(dialog_, IDC_REPORT, "not sent: " + checked.message());
    return;
  }
  if (!ConfirmChange(*chosen, input)) {
    SetControlText(dialog_, IDC_REPORT, "not sent: " + chosen->action_name + " was not confirmed");
    return;
  }

  waiting_ = std::move(wait.value());
  if (waiting_) waiting_->json = engine_options_.reply_format == request::ReplyFormat::kJson;
  wait_cancel_ = std::make_shared<std::atomic<bool>>(false);
  engine::EngineOptions options = engine_options_;
  options.all_fields = IsDlgButtonChecked(dialog_, IDC_ALL_FIELDS) == BST_CHECKED;
  RequestJob job{++last_generation_, std::move(options), credentials, chosen,
                 values.value(),     waiting_,           wait_cancel_};
  if (!runner_.Start(std::move(job))) {
    SetControlText(dialog_, IDC_REPORT, "the request was not sent: no thread could be started");
    return;
  }
  awaited_ = last_generation_;
  SetInFlight(true);
  // One reply per Send: nothing of an earlier reply or sample stays beside it.
  result_list_.Clear();
  sent_.action = chosen->action_name;
  sent_.credentials = std::move(credentials);
  sent_.region.clear();
  for (std::size_t k = 0; k < input.fields.size() && k < form_names_.size(); ++k) {
    if (form_names_[k] == "RegionId") sent_.region = input.fields[k];
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t clock[16] = {};
  swprintf(clock, 16, L"%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
  sent_.time = core::FromWide(clock);
  sent_.started_ms = GetTickCount64();
  SetControlText(dialog_, IDC_REPORT,
                 (waiting_ ? "Waiting (Cancel or Esc gives up): sending " : "Sending ") +
                     sent_.action + " to " + Destination(*chosen, values.value()) + "...");
}

std::string MainDialog::Destination(const catalogue::ResolvedAction& action,
                                    const catalogue::ParameterValues& values) const {
  // The host the engine sends this request to, chosen by its own region.
  const core::Result<engine::Destination> resolved =
      engine::ResolveDestination(engine_options_, action, values);
  const std::string host = resolved.ok() ? resolved->endpoint.host : std::string("the cloud");
  if (engine_options_.endpoint_override.empty()) return host;
  return host + " via " + engine_options_.endpoint_override;
}

void MainDialog::ShowAbout() {
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUT), dialog_, AboutProc, 0);
}

void MainDialog::CopyClickedRow() {
  std::optional<std::wstring> info = result_list_.FocusedInfo();
  if (!info) return;  // no row has the focus: the clipboard is left alone
  SetDlgItemTextW(dialog_, IDC_COPIED_VALUE, info->c_str());
  SetClipboardText(dialog_, *info);
}

void MainDialog::ShowResultMenu(LPARAM where) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  const bool any = result_list_.RowCount() > 0;
  const bool focused = result_list_.FocusedInfo().has_value();
  const bool selected = !result_list_.SelectedRows().empty();
  for (const PopupItem& item : kResultMenuItems) {
    const bool usable = item.id == IDM_COPY_VALUE  ? focused
                        : item.id == IDM_COPY_ROWS ? selected
                                                   : any;
    AppendMenuW(menu, MF_STRING | (usable ? MF_ENABLED : MF_GRAYED), item.id, item.text);
  }
  POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
  if (where == -1) {
    // From the keyboard: below the focused row, or at the list's corner.
    HWND list = result_list_.handle();
    const int row = static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)));
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    at = {0, 0};
    if (row >= 0 && SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                                 reinterpret_cast<LPARAM>(&rect))) {
      at = {rect.left, rect.bottom};
    }
    ClientToScreen(list, &at);
  }
  const auto chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, dialog_, nullptr));
  DestroyMenu(menu);
  if (chosen != 0) OnResultCommand(chosen);
}

void MainDialog::OnResultCommand(UINT id) {
  switch (id) {
    case IDM_COPY_VALUE:
      CopyClickedRow();
      return;
    case IDM_COPY_ROWS:
      CopyRows(result_list_.SelectedRows(), false);
      return;
    case IDM_COPY_ALL:
      CopyRows({}, true);
      return;
    case IDM_SAVE_CSV:
      SaveRows(L"csv");
      return;
    case IDM_SAVE_JSON:
      SaveRows(L"json");
      return;
    default:
      return;
  }
}

std::vector<ExportRow> MainDialog::ExportRows(const std::vector<int>& rows) const {
  std::vector<ExportRow> out;
  out.reserve(rows.size());
  for (int row : rows)
    out.push_back({result_list_.CellText(row, 0), result_list_.CellText(row, 1)});
  return out;
}

void MainDialog::CopyRows(const std::vector<int>& rows, bool all) {
  std::vector<int> chosen = rows;
  if (all) {
    chosen.assign(static_cast<std::size_t>(result_list_.RowCount()), 0);
    std::iota(chosen.begin(), chosen.end(), 0);
  }
  if (chosen.empty()) return;  // nothing selected: the clipboard is left alone
  const std::vector<ExportRow> exported = ExportRows(chosen);
  if (!SetClipboardText(dialog_, RowsAsTabSeparated(exported, all))) {
    SetControlText(dialog_, IDC_REPORT, "not copied: the clipboard could not be opened");
    return;
  }
  std::string copied = "(" + std::to_string(chosen.size());
  copied += chosen.size() == 1 ? " row)" : " rows)";
  SetControlText(dialog_, IDC_COPIED_VALUE, copied);
}

void MainDialog::SaveRows(const std::wstring& extension) {
  const int count = result_list_.RowCount();
  if (count == 0) {
    SetControlText(dialog_, IDC_REPORT, "not saved: the result list is empty");
    return;
  }
  std::optional<std::wstring> path =
      choose_save_path_ ? choose_save_path_(dialog_, extension) : AskSavePath(dialog_, extension);
  if (!path || path->empty()) return;  // the user changed their mind
  std::vector<int> rows(static_cast<std::size_t>(count));
  std::iota(rows.begin(), rows.end(), 0);
  const std::vector<ExportRow> exported = ExportRows(rows);
  const std::string target = core::FromWide(*path);
  const core::Status written =
      WriteExportFile(target, extension == L"csv" ? RowsAsCsv(exported) : RowsAsJson(exported));
  if (!written.ok()) {
    SetControlText(dialog_, IDC_REPORT, "not saved: " + written.message());
    return;
  }
  std::string report = "saved ";
  report += std::to_string(count);
  report += " rows to ";
  report += target;
  SetControlText(dialog_, IDC_REPORT, report);
}

void MainDialog::OnRememberKeysClicked() {
  if (IsDlgButtonChecked(dialog_, IDC_REMEMBER_KEYS) == BST_CHECKED) {
    SetControlText(dialog_, IDC_REPORT,
                   "the keys will be remembered after the next successful Send");
    return;
  }
  file_fallback_agreed_ = false;
  const core::Status erased = store_.Erase();
  std::string report = erased.ok() ? std::string("the keys are no longer remembered")
                                   : "keys not forgotten: " + erased.message();
  // The file also serves the command line: it is the user's to remove.
  if (GetFileAttributesW(core::ToWide(credential_file_).c_str()) != INVALID_FILE_ATTRIBUTES) {
    report += "; the credential file \"";
    report += credential_file_;
    report += "\" is left as it is";
  }
  SetControlText(dialog_, IDC_REPORT, report);
}

std::string MainDialog::KeepKeys(const request::Credentials& sent) {
  if (IsDlgButtonChecked(dialog_, IDC_REMEMBER_KEYS) != BST_CHECKED) return {};
  if (sent.access_key_id.empty() || sent.access_key_secret.empty()) {
    return " · keys not remembered: the AccessKey id or secret is empty";
  }
  const core::Status stored = store_.Write(sent);
  if (stored.ok()) return {};
  if (!file_fallback_agreed_) {
    std::string question = stored.message();
    question += ".\n\nKeep the AccessKey pair in the file \"";
    question += credential_file_;
    question += "\" instead? The secret is then stored there as plain text.";
    const std::wstring wide = core::ToWide(question);
    if (MessageBoxW(dialog_, wide.c_str(), L"Remember keys",
                    MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
      CheckDlgButton(dialog_, IDC_REMEMBER_KEYS, BST_UNCHECKED);
      return " · keys not remembered";
    }
    file_fallback_agreed_ = true;
  }
  const core::Status saved = request::SaveCredentials(sent, credential_file_);
  if (saved.ok()) return {};
  std::string note = " · keys not remembered: credential file \"";
  note += credential_file_;
  note += "\" not saved: ";
  note += saved.message();
  return note;
}

// The dialog manager sends WM_INITDIALOG only to a dialog that has a dialog
// procedure, and it sends it to the window, whose class procedure
// (MainWindowProc) handles every message. This procedure would only be called
// by DefDlgProc, which the class procedure never calls.
INT_PTR CALLBACK MainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_CREATE && self == nullptr) {
    self = new MainDialog(dialog);
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcW(dialog, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
    delete self;
    return DefWindowProcW(dialog, message, wparam, lparam);
  }
  // Not a leak: the window owns `self` (DWLP_USER), and WM_NCDESTROY, its last message,
  // deletes it; the analyzer cannot follow a pointer stored in the window.
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
  return self->HandleMessage(message, wparam, lparam);
}

INT_PTR CALLBACK AboutProc(HWND about, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      // The version the build stamps into the file's version information.
      std::string text = "软件名：Kestrune\r\nVersion:";
      text += KESTRUNE_VERSION_TEXT;
      text += "\r\n作者：Kestrune 开发组";
      SetControlText(about, IDC_ABOUT_TEXT, text);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        SendMessageW(about, WM_CLOSE, 0, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(about, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

bool RegisterMainDialogClass(HINSTANCE instance) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExW(instance, kClassName, &existing)) return true;

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = MainWindowProc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = DLGWINDOWEXTRA;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KESTRUNE));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = kClassName;
  window_class.hIconSm = window_class.hIcon;
  return RegisterClassExW(&window_class) != 0;
}

HWND CreateMainDialog(HINSTANCE instance, const MainDialogOptions& options) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&controls);
  if (!RegisterMainDialogClass(instance)) return nullptr;
  HWND dialog = CreateDialogParamW(instance, kTemplateName, nullptr, MainDialogProc,
                                   reinterpret_cast<LPARAM>(&options));
  if (dialog != nullptr && !RestoreWindowPlacement(dialog, options.placement_key)) {
    // The template's size may exceed a small or scaled screen.
    FitWindowToMonitor(dialog);
    ShowWindow(dialog, SW_SHOWNORMAL);
  }
  return dialog;
}

int RunMessageLoop(HWND dialog) {
  MSG message{};
  for (;;) {
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    if (IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace kestrune::ui
