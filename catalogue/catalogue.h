// The action catalogue: the three services and their endpoints, the browsing
// lists the selectors show, one RequestTemplate per sendable action, the ECS
// parameter captions, and the one resolution every front end uses to turn a
// user's choice into the template that is sent.
//
// All tables are constant data; every function here is stateless and safe from
// any thread.
//
// Numbering. ServiceNumber, CategoryNumber and ActionNumber are 1-based.
// Selector positions (what a list control reports) are 0-based and are named
// `*_position` below.
//
// Browsing entries and templates are numbered independently: an ECS browsing
// entry is never taken as a (CategoryNumber, ActionNumber) pair. It resolves by
// its action name to a template, and the template's group and position give the
// pair (ResolveBrowsingEntry, ResolveActionName).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/paging.h"
#include "core/reply_shape.h"
#include "core/status.h"
#include "core/text.h"
#include "request/endpoint.h"

namespace kestrune::catalogue {

// ---------------------------------------------------------------------------
// Services and endpoints

inline constexpr unsigned kEcsService = 1;
inline constexpr unsigned kIotService = 2;
inline constexpr unsigned kApiGatewayService = 3;

struct ServiceInfo {
  unsigned number;                // ServiceNumber, 1..3
  std::string_view name;          // "ECS", "IoT", "API Gateway"
  std::string_view host;          // e.g. "ecs.aliyuncs.com"
  std::string_view host_line;     // "Host: " + host + "\r\n"
  std::string_view version_item;  // e.g. "Version=2014-05-26"
};

// The three services, in ServiceNumber order.
std::span<const ServiceInfo> Services();
// The service of that number; nullptr unless 1, 2 or 3.
const ServiceInfo* FindService(unsigned service_number);
// The service selector's position of service 1, 2 or 3 (0, 1, 2), as the
// browsing lists below take it; for any other number a position past the last
// service, whose lists are empty.
std::size_t ServicePosition(unsigned service_number);
// The endpoint of service 1, 2 or 3; nullopt for any other number.
std::optional<request::ServiceEndpoint> EndpointFor(unsigned service_number);

// ---------------------------------------------------------------------------
// Browsing lists (what the selectors show, in stored order)

// The 12 product groups.
core::StringListView ProductGroups();
// The service selector's list: "ECS" alone.
core::StringListView ServiceList();
// "cn-shanghai", "cn-shenzhen", "cn-beijing".
core::StringListView Regions();
// Whether `id` is one of the public ECS regions this build knows of. The
// service adds regions over time, so an id this does not know may still be
// real: only the account's own region list can say it is not.
bool IsPublishedRegion(std::string_view id);

// Category list by the service selector's 0-based position: 0 gives the 26 ECS
// categories, 1 the IoT list ("IOT"), 2 the 8 API Gateway categories; any
// other position the empty list.
core::StringListView CategoryList(std::size_t service_position);
// Action list of a category, both 0-based selector positions as above. ECS
// lists hold action names, IoT and API Gateway lists display names. Empty for
// any position out of range.
core::StringListView ActionList(std::size_t service_position, std::size_t category_position);

// ---------------------------------------------------------------------------
// Request templates

// One sendable action. `names` is "Action" followed by the request parameter
// names in binding order; `values` is the action name followed by the stored
// sample values, position by position with `names`. A name past the end of
// `values` has the empty value. A name may occur twice; each occurrence is
// sent with the value at its own position.
struct RequestTemplate {
  unsigned service;   // ServiceNumber
  unsigned group;     // ECS: template group 1..14; IoT: 1; API Gateway: 1..8
  unsigned position;  // 1-based position inside the group
  core::StringListView names;
  core::StringListView values;

  // The value of "Action" (values entry 1).
  constexpr std::string_view action() const { return values.Entry(1); }
  // Number of request parameters after "Action".
  constexpr std::size_t parameter_count() const {
    std::size_t count = names.Count();
    return count == 0 ? 0 : count - 1;
  }
  // Whether a parameter after "Action" is called `name`.
  constexpr bool holds_parameter(std::string_view name) const {
    for (std::size_t i = 2; i <= names.Count(); ++i) {
      if (names.Entry(i) == name) return true;
    }
    return false;
  }
  // The names after "Action", as a list of their own.
  constexpr core::StringListView parameter_names() const {
    std::string_view packed = names.packed();
    std::size_t first_end = packed.find('\0');
    if (first_end == std::string_view::npos) return {};
    return core::StringListView(packed.substr(first_end + 1));
  }
};

// One action as the catalogue knows it: the template it is sent with (for a
// listed action without one, group 0 and no names: only its action name),
// the captions of its parameter form, the shape of its good reply, and how
// its lists are paged. The tables by number (templates, captions) are read
// from these records.
struct ActionSpec {
  RequestTemplate request;
  // ECS: one caption per template parameter, in order. Others: none (the
  // form shows the parameter names).
  core::StringListView captions;
  core::ReplyShape reply_shape = core::ReplyShape::kNone;
  std::optional<PagingInfo> paging;

  constexpr std::string_view action() const { return request.action(); }
  constexpr bool has_template() const { return request.group != 0; }
  constexpr ActionSpec Shows(core::ReplyShape shape) const {
    ActionSpec shown = *this;
    shown.reply_shape = shape;
    return shown;
  }
  constexpr ActionSpec Pages(std::string_view list_element, std::uint32_t max_page_size) const {
    ActionSpec paged = *this;
    paged.paging = PagingInfo{list_element, max_page_size};
    return paged;
  }
};

// Every record: the 176 templates' in the order of Templates(), then the
// listed actions without a template.
std::span<const ActionSpec> ActionSpecs();
// The record of service 1, 2 or 3's action (exact name); nullptr when the
// catalogue holds none.
const ActionSpec* FindActionSpec(unsigned service_number, std::string_view action);

// All 176 templates: ECS (97, groups 1..14), IoT (13), API Gateway (66, groups
// 1..8), each service in group order, each group in position order.
std::span<const RequestTemplate> Templates();
// The templates of one service's group (empty for an unknown pair).
std::span<const RequestTemplate> TemplateGroup(unsigned service_number, unsigned group);
// One template, or nullptr when there is none at that place.
const RequestTemplate* FindTemplate(unsigned service_number, unsigned group, unsigned position);
// Number of groups of a service: 14, 1, 8; 0 for an unknown service.
unsigned GroupCount(unsigned service_number);

// ---------------------------------------------------------------------------
// ECS parameter captions

// Caption list of ECS CategoryNumber (1..26) and ActionNumber. The empty list
// for any pair the table does not hold: a category out of 1..26, an action 0
// or past the category's last entry (never another category's captions).
core::StringListView ParameterLabels(unsigned category_number, unsigned action_number);
// Number of entries the table holds for a category (0 outside 1..26).
std::size_t ParameterLabelCount(unsigned category_number);

// ---------------------------------------------------------------------------
// Resolution: what the user chose -> what is sent

// A sendable choice. For ECS, category_number/action_number are the pair under
// which the dispatch, the formatters and the captions know the template
// (template groups 1..13 are categories 1..13, group 14 is category 16). For
// IoT, category 1 and action k; for API Gateway, the template group and its
// position inside it.
//
// A choice without a template (a listed action the catalogue holds no
// parameters for, or an action named with --force) has no template and the
// numbers 0; it is still sendable under its own action name, with exactly the
// parameters the user names.
struct ResolvedAction {
  unsigned service = 0;
  unsigned category_number = 0;
  unsigned action_number = 0;
  const RequestTemplate* request_template = nullptr;
  std::string action_name;  // what "Action=" carries; set for every choice

  friend bool operator==(const ResolvedAction&, const ResolvedAction&) = default;
};

// The record of a resolved choice: its template's, or for a choice without
// one the record of its name, if any.
const ActionSpec* ActionSpecOf(const ResolvedAction& action);

// The CategoryNumber an ECS template group is known by (group 14 -> 16,
// otherwise the group itself).
unsigned EcsCategoryOfGroup(unsigned group);

// Resolves a browsing entry given by 0-based selector positions. ECS entries
// resolve by action name, without regard to case, to the template of that
// action, or to the entry's own action name without a template; IoT entry k
// is IoT template k; API Gateway display names map to the action (and its
// template, if any) of the same meaning. nullopt means "not sendable" (no
// action name is known for the entry, or a position out of range): the front
// end sends nothing.
std::optional<ResolvedAction> ResolveBrowsingEntry(std::size_t service_position,
                                                   std::size_t category_position,
                                                   std::size_t entry_position);

// Resolves an action by service number and name, without regard to ASCII case.
// For ECS the name is matched against the template action names (so both
// "DescribeUserData" and "DescribeUserdata" resolve). For IoT and API Gateway
// the action name or the display name (exact) is accepted. A listed action
// without a template resolves to its own name. nullopt when the service lists
// no such action.
std::optional<ResolvedAction> ResolveActionName(unsigned service_number, std::string_view name);

// The resolution of a template itself (its own service's numbering).
ResolvedAction ResolveTemplate(const RequestTemplate& request_template);

// Captions for the parameter form, one per template parameter, in parameter
// order: an ECS action's captions (which name its parameters one by one),
// the parameter names themselves for IoT and API Gateway; none without a
// template.
core::StringListView DisplayCaptions(const ResolvedAction& action);

// A choice of an action no list holds, as --force sends it: the name must
// look like an action name (letters and digits, starting with a letter).
core::Result<ResolvedAction> ForcedAction(unsigned service_number, std::string_view name);

// Up to `limit` listed action names of the service closest to `name` (by edit
// distance, ignoring case), closest first; none that is too far to be a typo.
std::vector<std::string> ClosestActionNames(unsigned service_number, std::string_view name,
                                            std::size_t limit = 3);

}  // namespace kestrune::catalogue
