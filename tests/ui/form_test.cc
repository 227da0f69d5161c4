// Service, category and action selectors and the parameter form they drive:
// captions and visible fields follow the action on screen, free name/value
// pairs follow them, typed values stay with their parameter names, a change
// is confirmed before it goes, and only what is on show is sent.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/wide_text.h"
#include "request/signer.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/parameter_form.h"
#include "ui/resource_ids.h"

namespace kestrune::ui::testing {
namespace {

class ParameterFormTest : public DialogTest {
 protected:
  // Opens the dialog sending to `address`, with the AccessKey pair typed in.
  // The endpoint is read at start, so the variable is cleared again at once.
  void OpenSendingTo(const std::string& address, const std::string& secret) {
    ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", address.c_str()), 0);
    OpenDialog();
    ASSERT_EQ(_putenv_s("KESTRUNE_ENDPOINT", ""), 0);
    SetText(IDC_KEY_ID, "id");
    SetText(IDC_KEY_SECRET, secret);
  }

  // Captions of the visible pairs, pair 1 first; fails if the visible pairs
  // are not a run from pair 1 or a caption's field is not visible with it.
  std::vector<std::wstring> VisibleCaptions() {
    std::vector<std::wstring> captions;
    bool ended = false;
    for (std::size_t k = 0; k < kCaptionedFields; ++k) {
      const bool caption = Shown(ParameterCaptionId(k));
      EXPECT_EQ(caption, Shown(ParameterFieldId(k))) << "pair " << k + 1;
      if (!caption) {
        ended = true;
        continue;
      }
      EXPECT_FALSE(ended) << "pair " << k + 1 << " shown after a hidden one";
      captions.push_back(Text(ParameterCaptionId(k)));
    }
    return captions;
  }
  static bool IsFormField(int id) {
    for (std::size_t k = 0; k < kCaptionedFields; ++k) {
      if (id == ParameterFieldId(k)) return true;
      if (k < kFreePairs && (id == FreeNameId(k) || id == FreeValueId(k))) return true;
    }
    return false;
  }
  // Answers the next confirmation box with `button`, keeping its text.
  void AnswerConfirmation(int button, std::wstring* text) {
    WhileModal([this, button, text] {
      HWND box = nullptr;
      while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
        if (GetWindow(box, GW_OWNER) == dialog() && IsWindowVisible(box)) break;
      }
      if (box == nullptr) return false;
      for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t piece[512] = {};
        GetWindowTextW(child, piece, 512);
        *text += piece;
      }
      PostMessageW(box, WM_COMMAND, button, 0);
      return true;
    });
  }
  void ChooseAction(std::string_view service, std::string_view category, std::string_view action) {
    ChooseText(IDC_PRODUCT_GROUP, service == "ECS" ? "Elastic Compute" : "Application");
    ChooseText(IDC_SERVICE, service);
    ChooseText(IDC_CATEGORY, category);
    ChooseText(IDC_ACTION, action);
  }
};

TEST_F(ParameterFormTest, CaptionsLandOnTheirPairsAndTheRestHide) {
  OpenDialog();
  ChooseAction("ECS", "实例", "RunInstances");
  EXPECT_EQ(VisibleCaptions(),
            (std::vector<std::wstring>{L"Region ID:", W("镜像文件ID:"), L"InstanceType:"}));

  ChooseText(IDC_ACTION, "DescribeInstanceVncUrl");
  EXPECT_EQ(VisibleCaptions(), (std::vector<std::wstring>{L"RegionId:", L"InstanceId:"}));

  ChooseText(IDC_ACTION, "StopInstance");
  EXPECT_EQ(VisibleCaptions(), (std::vector<std::wstring>{L"InstanceId:"}));

  // A browsing entry is resolved by name: the ECS list shows DescribeUserData,
  // whose template is spelled DescribeUserdata.
  ChooseText(IDC_ACTION, "DescribeUserData");
  EXPECT_EQ(VisibleCaptions(), (std::vector<std::wstring>{L"RegionId:", L"InstanceId:"}));
}

TEST_F(ParameterFormTest, ValuesStayOnlyUnderTheirOwnNames) {
  OpenDialog();
  ChooseAction("ECS", "实例", "RunInstances");  // RegionId, ImageId, InstanceType
  SetText(ParameterFieldId(0), "cn-shanghai");
  SetText(ParameterFieldId(1), "image-1");
  SetText(ParameterFieldId(2), "type-1");
  SetText(FreeNameId(0), "Tag.1.Key");
  SetText(FreeValueId(0), "kept");

  ChooseText(IDC_ACTION, "StopInstance");  // InstanceId: no region goes in as an instance
  EXPECT_EQ(Text(ParameterFieldId(0)), L"");
  ChooseText(IDC_ACTION, "CreateInstance");  // the same names as RunInstances, all cleared since
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Text(ParameterFieldId(k)), L"") << k;

  ChooseText(IDC_ACTION, "DescribeInstanceVncUrl");  // RegionId, InstanceId
  SetText(ParameterFieldId(0), "cn-beijing");
  SetText(ParameterFieldId(1), "i-1");
  ChooseText(IDC_ACTION, "DescribeUserData");  // RegionId, InstanceId
  EXPECT_EQ(Text(ParameterFieldId(0)), L"cn-beijing");
  EXPECT_EQ(Text(ParameterFieldId(1)), L"i-1");
  ChooseText(IDC_ACTION, "ModifyInstanceVncPasswd");  // RegionId, InstanceId, VncPassword
  SetText(ParameterFieldId(2), "secret-typed");
  ChooseText(IDC_ACTION, "DeleteInstance");  // InstanceId
  EXPECT_EQ(Text(ParameterFieldId(0)), L"i-1");
  // A hidden field keeps nothing that could come back under another name.
  EXPECT_EQ(Text(ParameterFieldId(1)), L"");
  EXPECT_EQ(Text(ParameterFieldId(2)), L"");
  EXPECT_EQ(Text(FreeValueId(0)), L"kept");
}

TEST_F(ParameterFormTest, ActionWithoutParametersHidesEveryCaptionedField) {
  OpenDialog();
  ChooseAction("ECS", "地域", "DescribeZones");
  EXPECT_EQ(VisibleCaptions(), (std::vector<std::wstring>{L"RegionId:"}));
  ChooseText(IDC_ACTION, "DescribeRegions");
  EXPECT_TRUE(VisibleCaptions().empty());
  for (int id = 3005; id <= 3021; ++id) {
    if (id != IDC_COPIED_VALUE) {
      EXPECT_FALSE(Shown(id)) << id;
    }
  }
}

TEST_F(ParameterFormTest, IotAndApiGatewayShowParameterNames) {
  OpenDialog();
  ChooseText(IDC_PRODUCT_GROUP, "Application");
  ChooseText(IDC_SERVICE, "IoT");
  EXPECT_EQ(SelectorEntries(IDC_CATEGORY), std::vector<std::wstring>{L"IOT"});
  EXPECT_EQ(SelectorEntries(IDC_ACTION).size(), 13u);
  // The service change chose the first category and its first action, and
  // the form shows that action.
  EXPECT_EQ(SendMessageW(Control(IDC_ACTION), CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(VisibleCaptions(), (std::vector<std::wstring>{L"Name", L"CatId", L"Desc"}));
  Choose(IDC_ACTION, 3);
  EXPECT_EQ(VisibleCaptions(),
            (std::vector<std::wstring>{L"ProductKey", L"PageSize", L"CurrentPage"}));

  ChooseText(IDC_SERVICE, "API Gateway");
  EXPECT_EQ(SelectorEntries(IDC_CATEGORY).size(), 8u);
  EXPECT_FALSE(SelectorEntries(IDC_ACTION).empty());

  ChooseText(IDC_PRODUCT_GROUP, "Elastic Compute");
  EXPECT_EQ(SelectorEntries(IDC_CATEGORY).size(), 26u);
  EXPECT_EQ(SelectorEntries(IDC_ACTION).front(), L"RunInstances");
  EXPECT_EQ(VisibleCaptions().size(), 3u) << "RunInstances is on show";
}

// A listening socket on 127.0.0.1 that the dialog is pointed at. It can take
// one request in the background and answers it with `reply`, at once or, when
// held, only once released.
class Listener {
 public:
  Listener() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(socket_, 4);
    int length = sizeof(address);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    Release();
    if (taker_.joinable()) taker_.join();
    CloseHandle(released_);
    closesocket(socket_);
    if (started_) WSACleanup();
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  bool ready() const { return started_ && socket_ != INVALID_SOCKET && port_ != 0; }

  // Whether a connection is waiting to be taken.
  bool Pending() const { return Readable(socket_, 0); }

  static constexpr char kUnavailable[] =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  // A refusal no request is sent again for: the listener takes one
  // connection, and a read would be retried past a 5xx.
  static constexpr char kRefused[] =
      "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

  // Takes one connection within 15 seconds, reads its request head, answers
  // with `reply` (held: once Release is called) and closes it.
  void TakeOneInBackground(std::string reply = kUnavailable, bool held = false) {
    taken_ = false;
    if (held) ResetEvent(released_);
    taker_ = std::thread([this, reply = std::move(reply), held] {
      if (!Readable(socket_, 15000)) return;
      SOCKET client = ::accept(socket_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      std::string head;
      char buffer[1024];
      for (int reads = 0; reads < 64 && head.find("\r\n\r\n") == std::string::npos; ++reads) {
        if (!Readable(client, 5000)) break;
        int got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<std::size_t>(got));
      }
      request_ = head;
      taken_ = true;
      if (held) WaitForSingleObject(released_, 15000);
      ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
      ::shutdown(client, SD_SEND);
      closesocket(client);
    });
  }
  // Whether the request head has been read (set before a held reply goes).
  bool taken() const { return taken_; }
  void Release() { SetEvent(released_); }
  // The request head taken by TakeOneInBackground (waits for it to finish).
  std::string TakenRequest() {
    if (taker_.joinable()) taker_.join();
    return request_;
  }

 private:
  static bool Readable(SOCKET socket, long milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &wait) > 0;
  }

  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::thread taker_;
  std::string request_;
  std::atomic<bool> taken_{false};
  HANDLE released_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(ParameterFormTest, OnlyTheActionOnScreenIsSent) {
  Listener listener;
  ASSERT_TRUE(listener.ready());
  ASSERT_NO_FATAL_FAILURE(OpenSendingTo(listener.address(), "form-test-secret"));
  Press(IDC_DESCRIBE_ZONES);
  const std::vector<ScreenRow> before = Rows();

  // An entry without a template has no captioned field. With no action
  // chosen at all, Send is refused: nothing sent, nothing cleared.
  ChooseAction("ECS", "实例", "AttachInstanceRamRole");
  EXPECT_TRUE(VisibleCaptions().empty());
  SendMessageW(Control(IDC_ACTION), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  SetText(IDC_REPORT, "");
  SendAndWait();
  EXPECT_EQ(Text(IDC_REPORT), L"not sent: choose an action first");
  EXPECT_FALSE(listener.Pending());
  EXPECT_EQ(Rows(), before);

  // A change asks first, naming the action and its target; refused, nothing goes.
  ChooseText(IDC_ACTION, "StopInstance");
  SetText(IDC_PARAM_VALUE_FIRST, "i-on-screen");
  SetText(IDC_PARAM_VALUE_FIRST + 1, "hidden-field-value");
  std::wstring question;
  AnswerConfirmation(IDCANCEL, &question);
  Press(IDC_SEND);
  EXPECT_NE(question.find(L"StopInstance"), std::wstring::npos) << core::FromWide(question);
  EXPECT_NE(question.find(L"InstanceId = i-on-screen"), std::wstring::npos);
  EXPECT_FALSE(Busy());
  EXPECT_FALSE(listener.Pending());
  EXPECT_EQ(Text(IDC_REPORT), L"not sent: StopInstance was not confirmed");

  // Confirmed, the entry on screen with the value typed into its one field
  // is what goes out, and nothing else.
  listener.TakeOneInBackground();
  AnswerConfirmation(IDOK, &question);
  SendAndWait();
  const std::string request = listener.TakenRequest();
  EXPECT_EQ(request.rfind("GET /?", 0), 0u) << request;
  EXPECT_NE(request.find("Action=StopInstance"), std::string::npos) << request;
  EXPECT_NE(request.find("InstanceId=i-on-screen"), std::string::npos) << request;
  EXPECT_EQ(request.find("hidden-field-value"), std::string::npos) << request;
  audit().CheckText("the request sent", request);
  EXPECT_EQ(Text(IDC_REPORT), L"HTTP/1.1 503 Service Unavailable");
}

// Every action of every service: the captioned fields are the template's, the
// free pairs are there, no visible control leaves the dialog or overlaps
// another, and a click on each visible field lands in it and takes text.
TEST_F(ParameterFormTest, EveryActionsFormFitsApartFromEveryOtherControl) {
  OpenDialog();
  RECT client{};
  GetClientRect(dialog(), &client);
  for (int service = 0; service < 3; ++service) {
    ChooseText(IDC_PRODUCT_GROUP, service == 0 ? "Elastic Compute" : "Application");
    Choose(IDC_SERVICE, service == 0 ? 0 : service - 1);
    for (int category = 0; category < static_cast<int>(SelectorEntries(IDC_CATEGORY).size());
         ++category) {
      Choose(IDC_CATEGORY, category);
      for (int action = 0; action < static_cast<int>(SelectorEntries(IDC_ACTION).size());
           ++action) {
        Choose(IDC_ACTION, action);
        const std::string at = std::to_string(service) + "/" + std::to_string(category) + "/" +
                               std::to_string(action) + " ";
        const auto chosen = catalogue::ResolveBrowsingEntry(service, category, action);
        ASSERT_TRUE(chosen) << at;
        const catalogue::RequestTemplate* request_template = chosen->request_template;
        EXPECT_EQ(VisibleCaptions().size(),
                  request_template ? request_template->parameter_count() : 0u)
            << at;
        std::size_t free_pairs = 0;
        std::vector<std::pair<HWND, RECT>> shown;  // visible children, in client coordinates
        for (HWND child = GetWindow(dialog(), GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
          if ((GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) == 0) continue;
          RECT rect{};
          GetWindowRect(child, &rect);
          MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&rect), 2);
          shown.emplace_back(child, rect);
          free_pairs += GetDlgCtrlID(child) >= FreeValueId(0) &&
                        GetDlgCtrlID(child) <= FreeValueId(kFreePairs - 1);
        }
        EXPECT_GE(free_pairs, request_template ? kFewestFreePairs : 8u) << at;
        for (std::size_t i = 0; i < shown.size(); ++i) {
          const auto& [control, rect] = shown[i];
          const int id = GetDlgCtrlID(control);
          RECT inside{};
          EXPECT_TRUE(IntersectRect(&inside, &rect, &client) && EqualRect(&inside, &rect))
              << at << id;
          for (std::size_t j = i + 1; j < shown.size(); ++j) {
            EXPECT_FALSE(IntersectRect(&inside, &rect, &shown[j].second))
                << at << id << " " << GetDlgCtrlID(shown[j].first);
          }
        }
        for (const auto& [control, rect] : shown) {
          const int id = GetDlgCtrlID(control);
          if (!IsFormField(id)) continue;
          POINT center{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
          EXPECT_EQ(ChildWindowFromPointEx(dialog(), center, CWP_SKIPINVISIBLE), control)
              << at << id << " is covered where it is clicked";
          POINT local = center;
          MapWindowPoints(dialog(), control, &local, 1);
          PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(local.x, local.y));
          SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(local.x, local.y));
          Pump();
          // A free name is a combo box, whose edit field takes the focus.
          EXPECT_TRUE(GetFocus() == control || IsChild(control, GetFocus())) << at << id;
          SetWindowTextW(control, L"");
          SendMessageW(control, WM_CHAR, L'z', 1);
          EXPECT_EQ(Text(id), L"z") << at << id;
          SetWindowTextW(control, L"");
        }
        if (HasFailure()) return;
      }
    }
  }
}

// The free names offer the action's parameters that have no field of their
// own, the required ones first and marked; a name taken from the list goes as
// the action spells it. What the check refuses is said in the report, and
// nothing is sent or shown.
TEST_F(ParameterFormTest, FreeNamesOfferTheActionsParametersAndRefusalsSendNothing) {
  Listener listener;
  ASSERT_TRUE(listener.ready());
  ASSERT_NO_FATAL_FAILURE(OpenSendingTo(listener.address(), "form-test-secret"));
  ChooseAction("ECS", "实例", "DescribeInstanceVncUrl");  // RegionId and InstanceId captioned
  EXPECT_TRUE(SelectorEntries(FreeNameId(0)).empty());
  SetText(FreeNameId(1), "InstanceType");
  ChooseText(IDC_ACTION, "DescribeSpotPriceHistory");  // no captioned field
  const std::vector<std::wstring> offered = SelectorEntries(FreeNameId(kFreePairs - 1));
  ASSERT_GE(offered.size(), 4u);
  EXPECT_EQ(
      std::vector<std::wstring>(offered.begin(), offered.begin() + 4),
      (std::vector<std::wstring>{L"InstanceType *", L"NetworkType *", L"RegionId *", L"EndTime"}));
  ChooseText(FreeNameId(0), "RegionId *");
  SetText(FreeValueId(0), "cn-hangzhou");
  SetText(FreeValueId(1), "ecs.g7.large");
  SetText(FreeNameId(2), "NetworkType");
  const std::wstring prefix = L"not sent: DescribeSpotPriceHistory";
  for (const auto& [name, value, refusal] :
       std::vector<std::tuple<std::string, std::string, std::wstring>>{
           {"", "", L" needs NetworkType (String)"},
           {"Offset", "ten", L": Offset must be an Integer"},
           {"Ofset", "1", L" has no parameter \"Ofset\"; did you mean Offset"}}) {
    SetText(FreeValueId(2), name.empty() ? "" : "vpc");
    SetText(FreeNameId(3), name);
    SetText(FreeValueId(3), value);
    Press(IDC_SEND);
    EXPECT_FALSE(Busy() || listener.Pending()) << name;
    EXPECT_EQ(Text(IDC_REPORT).rfind(prefix + refusal, 0), 0u) << core::FromWide(Text(IDC_REPORT));
    EXPECT_TRUE(Rows().empty());
  }
  SetText(FreeNameId(3), "Offset");
  listener.TakeOneInBackground(Listener::kRefused);
  SendAndWait();
  EXPECT_NE(listener.TakenRequest().find(
                "&RegionId=cn-hangzhou&InstanceType=ecs.g7.large&NetworkType=vpc&Offset=1 "),
            std::string::npos);
}

// A blank captioned field is not sent, though its template has a sample for
// it; a free pair with a value is, one with only a name is not.
TEST_F(ParameterFormTest, SendTakesExactlyTheVisibleInput) {
  Listener listener;
  ASSERT_TRUE(listener.ready());
  ASSERT_NO_FATAL_FAILURE(OpenSendingTo(listener.address(), "form-test-secret"));
  ChooseAction("API Gateway", "API分组", "查询环境详情");
  ASSERT_EQ(VisibleCaptions(), (std::vector<std::wstring>{L"GroupId", L"StageId"}));
  SetText(ParameterFieldId(1), "stage-typed");
  SetText(FreeNameId(0), "Extra.Name");
  SetText(FreeValueId(0), "typed-extra");
  SetText(FreeNameId(1), "NameOnly");
  listener.TakeOneInBackground(Listener::kRefused);
  SendAndWait();
  const std::string request = listener.TakenRequest();
  // The action's own items follow the signature.
  const std::size_t items = request.find('&', request.find("&Signature=") + 1);
  const std::size_t end = request.find(" HTTP/1.1");
  ASSERT_LT(items, end) << request;
  EXPECT_EQ(request.substr(items + 1, end - items - 1),
            "Action=DescribeApiStage&StageId=stage-typed&Extra.Name=typed-extra");
}

TEST_F(ParameterFormTest, ASecretTooLongToSignIsRefusedWithoutBeingShown) {
  Listener listener;
  ASSERT_TRUE(listener.ready());
  ASSERT_NO_FATAL_FAILURE(
      OpenSendingTo(listener.address(), "too-long-secret-" + std::string(60, 'q')));
  ChooseAction("ECS", "地域", "DescribeRegions");
  SendAndWait();
  EXPECT_FALSE(listener.Pending()) << "nothing is sent";
  // The reason names the limit; the fixture's audit proves the secret is
  // not in it.
  const std::wstring limit = std::to_wstring(request::kMaxAccessKeySecretLength);
  EXPECT_NE(Text(IDC_REPORT).find(limit), std::wstring::npos) << core::FromWide(Text(IDC_REPORT));
}

// Enter in a field presses Send, the default button; IDOK, which the dialog
// manager sends when no default button answers, does the same.
TEST_F(ParameterFormTest, EnterSends) {
  Listener listener;
  ASSERT_TRUE(listener.ready());
  ASSERT_NO_FATAL_FAILURE(OpenSendingTo(listener.address(), "form-test-secret"));
  EXPECT_NE(GetWindowLongW(Control(IDC_SEND), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
  ChooseAction("ECS", "实例", "StopInstance");
  SetText(ParameterFieldId(0), "i-by-enter");
  listener.TakeOneInBackground();
  std::wstring question;
  AnswerConfirmation(IDOK, &question);
  SetFocus(Control(ParameterFieldId(0)));
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
  WaitFor([this] { return Text(IDC_REPORT) == L"HTTP/1.1 503 Service Unavailable"; },
          "the reply to the request Enter sent");
  EXPECT_NE(listener.TakenRequest().find("InstanceId=i-by-enter"), std::string::npos);
  EXPECT_TRUE(IsWindow(dialog()));

  listener.TakeOneInBackground();
  SetText(IDC_REPORT, "");
  AnswerConfirmation(IDOK, &question);
  SendMessageW(dialog(), WM_COMMAND, IDOK, 0);
  WaitFor([this] { return Text(IDC_REPORT) == L"HTTP/1.1 503 Service Unavailable"; },
          "the reply to the request IDOK sent");
  EXPECT_NE(listener.TakenRequest().find("InstanceId=i-by-enter"), std::string::npos);
}

// Cancel gives the request up at once; when its reply comes after all,
// nothing of it is shown.
TEST_F(ParameterFormTest, CancelAbandonsTheRequestAndShowsNothingOfIt) {
  Listener listener;
  ASSERT_TRUE(listener.ready());
  ASSERT_NO_FATAL_FAILURE(OpenSendingTo(listener.address(), "form-test-secret"));
  Press(IDC_DESCRIBE_ZONES);
  ChooseAction("ECS", "地域", "DescribeZones");
  const std::string body =
      "<DescribeRegionsResponse><RequestId>late-reply</RequestId><Regions><Region>"
      "<RegionId>late-region</RegionId><LocalName>late</LocalName></Region></Regions>"
      "</DescribeRegionsResponse>";
  listener.TakeOneInBackground("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n\r\n" + body,
                               /*held=*/true);
  SetText(IDC_PARAM_VALUE_FIRST, "eu-central-1");
  Press(IDC_SEND);
  EXPECT_TRUE(Busy());
  // Named by the host the engine resolves for the form's region.
  EXPECT_EQ(Text(IDC_REPORT), L"Sending DescribeZones to ecs.eu-central-1.aliyuncs.com via " +
                                  core::ToWide(listener.address()) + L"...");
  ASSERT_TRUE(WaitFor([&] { return listener.taken(); }, "the request at the listener"));
  // Esc cancels too, as the Cancel button does.
  SetFocus(Control(IDC_KEY_ID));
  PostMessageW(Control(IDC_KEY_ID), WM_KEYDOWN, VK_ESCAPE, 0);
  Pump();
  EXPECT_FALSE(Busy());
  EXPECT_EQ(Text(IDC_REPORT), L"request cancelled");

  listener.Release();
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const std::string& line : trace_.lines()) {
          if (line.find("finished after it was cancelled") != std::string::npos) return true;
        }
        return false;
      },
      "the abandoned request's outcome"));
  EXPECT_TRUE(Rows().empty()) << "nothing of the earlier rows or the late reply";
  EXPECT_EQ(Text(IDC_REPORT), L"request cancelled");
  for (const std::string& line : trace_.lines()) {
    EXPECT_EQ(line.find("late-"), std::string::npos) << line;
  }

  // The dialog closes with a request in flight: its worker finishes alone.
  listener.TakenRequest();
  listener.TakeOneInBackground(Listener::kRefused, /*held=*/true);
  Press(IDC_SEND);
  ASSERT_TRUE(WaitFor([&] { return listener.taken(); }, "the second request at the listener"));
  EXPECT_TRUE(Busy());
  // Closing asks first; declined, the request stays in flight.
  std::wstring question;
  AnswerConfirmation(IDNO, &question);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  EXPECT_NE(question.find(L"Close Kestrune anyway?"), std::wstring::npos);
  EXPECT_TRUE(IsWindow(dialog()));
  EXPECT_TRUE(Busy());
  AnswerConfirmation(IDYES, &question);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(dialog()));
  listener.Release();
  EXPECT_NE(listener.TakenRequest(), "");
}

}  // namespace
}  // namespace kestrune::ui::testing
