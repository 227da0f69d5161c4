// Services, endpoint selection and the resolution of a user's choice.
#include "catalogue/catalogue.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "core/ascii.h"
#include "core/closest.h"

namespace kestrune::catalogue {
namespace {

using namespace std::string_view_literals;

constexpr std::array<ServiceInfo, 3> kServices = {
    ServiceInfo{kEcsService, "ECS"sv, "ecs.aliyuncs.com"sv, "Host: ecs.aliyuncs.com\r\n"sv,
                "Version=2014-05-26"sv},
    ServiceInfo{kIotService, "IoT"sv, "iot.aliyuncs.com"sv, "Host: iot.aliyuncs.com\r\n"sv,
                "Version=2016-05-30"sv},
    ServiceInfo{kApiGatewayService, "API Gateway"sv, "apigateway.cn-qingdao.aliyuncs.com"sv,
                "Host: apigateway.cn-qingdao.aliyuncs.com\r\n"sv, "Version=2016-07-14"sv},
};

constexpr bool HostLinesMatchHosts() {
  for (const ServiceInfo& service : kServices) {
    if (service.host_line.size() != service.host.size() + 8) return false;
    if (service.host_line.substr(0, 6) != "Host: ") return false;
    if (service.host_line.substr(6, service.host.size()) != service.host) return false;
    if (service.host_line.substr(6 + service.host.size()) != "\r\n") return false;
  }
  return true;
}
static_assert(HostLinesMatchHosts(), "each Host line is \"Host: \" + host + CRLF");

// The API Gateway display names do not follow the template order inside
// every group, so each one is mapped to its action by meaning.
struct GatewayMeaning {
  unsigned group;
  std::string_view display_name;
  std::string_view action;
};

constexpr std::array<GatewayMeaning, 66> kGatewayMeanings = {{
    {1, "创建API分组"sv, "CreateApiGroup"sv},
    {1, "修改API分组"sv, "ModifyApiGroup"sv},
    {1, "删除API分组"sv, "DeleteApiGroup"sv},
    {1, "创建环境变量"sv, "CreateApiStageVariable"sv},
    {1, "删除环境变量"sv, "DeleteApiStageVariable"sv},
    {1, "查询分组详情"sv, "DescribeApiGroup"sv},
    {1, "查询分组列表"sv, "DescribeApiGroups"sv},
    {1, "查询环境详情"sv, "DescribeApiStage"sv},

    {2, "绑定自定义域名"sv, "SetDomain"sv},
    {2, "上传SSL证书"sv, "SetDomainCertificate"sv},
    {2, "查询域名详情信息"sv, "DescribeDomain"sv},
    {2, "删除域名"sv, "DeleteDomain"sv},
    {2, "删除指定域名的证书"sv, "DeleteDomainCertificate"sv},

    {3, "创建API"sv, "CreateApi"sv},
    {3, "修改API"sv, "ModifyApi"sv},
    {3, "发布API"sv, "DeployApi"sv},
    {3, "切换环境"sv, "SwitchApi"sv},
    {3, "将环境API下线"sv, "AbolishApi"sv},
    {3, "删除Api"sv, "DeleteApi"sv},
    {3, "查询API定义"sv, "DescribeApi"sv},
    {3, "查询API服务文档"sv, "DescribeApiDoc"sv},
    {3, "查询API列表"sv, "DescribeApis"sv},
    // One historical version of an API in an environment, versus the list of
    // its historical versions.
    {3, "查询API环境"sv, "DescribeApiHistory"sv},
    {3, "查询API历史版本"sv, "DescribeApiHistories"sv},
    {3, "查询已发布API定义"sv, "DescribeDeployedApi"sv},
    {3, "查询已发布API列表"sv, "DescribeDeployedApis"sv},
    {3, "查询API错误数据"sv, "DescribeApiErrorData"sv},
    {3, "查询API响应数据"sv, "DescribeApiLatencyData"sv},
    {3, "查询APIQps数据"sv, "DescribeApiQpsData"sv},
    {3, "查询指定API流量数据"sv, "DescribeApiTrafficData"sv},

    {4, "创建流量控制策略"sv, "CreateTrafficControl"sv},
    {4, "修改流量控制策略"sv, "ModifyTrafficControl"sv},
    {4, "删除指定流控策略"sv, "DeleteTrafficControl"sv},
    {4, "添加特殊流控策略"sv, "AddTrafficSpecialControl"sv},
    {4, "删除所有特殊流控"sv, "DeleteAllTrafficSpecialControl"sv},
    {4, "删除指定特殊流控"sv, "DeleteTrafficSpecialControl"sv},
    {4, "绑定流控策略"sv, "SetTrafficControlApis"sv},
    {4, "解除流控策略"sv, "RemoveTrafficControlApis"sv},
    {4, "查询流控策略"sv, "DescribeTrafficControls"sv},
    // The policies of given APIs; the APIs a policy is bound to; the policies
    // a single API is bound to.
    {4, "查询指定策略"sv, "DescribeApiTrafficControls"sv},
    {4, "查询流控策略绑定"sv, "DescribeApisByTrafficControl"sv},
    {4, "查询已绑定流控策略"sv, "DescribeTrafficControlsByApi"sv},

    {5, "创建签名"sv, "CreateSignature"sv},
    {5, "修改签名"sv, "ModifySignature"sv},
    {5, "删除签名"sv, "DeleteSignature"sv},
    {5, "绑定签名"sv, "SetSignatureApis"sv},
    {5, "解除签名"sv, "RemoveSignatureApis"sv},
    {5, "查询签名"sv, "DescribeSignatures"sv},
    {5, "查询指定签名"sv, "DescribeApisBySignature"sv},
    {5, "查询签名密钥列表"sv, "DescribeApiSignatures"sv},
    {5, "查询指定API签名"sv, "DescribeSignaturesByApi"sv},

    {6, "创建应用"sv, "CreateApp"sv},
    {6, "修改应用"sv, "ModifyApp"sv},
    {6, "重置APP密钥"sv, "ResetAppSecret"sv},
    {6, "查询APP列表"sv, "DescribeAppAttributes"sv},
    {6, "查询指定APP"sv, "DescribeAppSecurity"sv},
    {6, "删除应用"sv, "DeleteApp"sv},

    {7, "查询可授权列表"sv, "DescribeApps"sv},
    {7, "查询已授权列表"sv, "DescribeAuthorizedApis"sv},
    {7, "查询API授权列表"sv, "DescribeAuthorizedApps"sv},
    {7, "给APP添加多个API"sv, "SetApisAuthorities"sv},
    {7, "给APP添加指定API"sv, "SetAppsAuthorities"sv},
    {7, "撤销指定APP权限"sv, "RemoveApisAuthorities"sv},
    {7, "撤销多个APP权限"sv, "RemoveAppsAuthorities"sv},

    {8, "查询区域列表"sv, "DescribeRegions"sv},
    {8, "查询参数列表"sv, "DescribeSystemParameters"sv},
}};

// The template of `action` inside one group (exact name), or nullptr.
const RequestTemplate* FindInGroup(unsigned service_number, unsigned group,
                                   std::string_view action) {
  for (const RequestTemplate& entry : TemplateGroup(service_number, group)) {
    if (entry.action() == action) return &entry;
  }
  return nullptr;
}

std::optional<ResolvedAction> ResolveGatewayDisplayName(unsigned group,
                                                        std::string_view display_name) {
  for (const GatewayMeaning& meaning : kGatewayMeanings) {
    if (meaning.group == group && meaning.display_name == display_name) {
      const RequestTemplate* found = FindInGroup(kApiGatewayService, group, meaning.action);
      if (found == nullptr) {
        ResolvedAction untemplated;
        untemplated.service = kApiGatewayService;
        untemplated.action_name = std::string(meaning.action);
        return untemplated;
      }
      return ResolveTemplate(*found);
    }
  }
  return std::nullopt;
}

}  // namespace

std::span<const ServiceInfo> Services() { return kServices; }

const ServiceInfo* FindService(unsigned service_number) {
  const std::size_t position = ServicePosition(service_number);
  return position < kServices.size() ? &kServices[position] : nullptr;
}

std::size_t ServicePosition(unsigned service_number) {
  if (service_number == 0 || service_number > kServices.size()) return kServices.size();
  return service_number - 1;
}

std::optional<request::ServiceEndpoint> EndpointFor(unsigned service_number) {
  const ServiceInfo* service = FindService(service_number);
  if (service == nullptr) return std::nullopt;
  return request::ServiceEndpoint{std::string(service->host), std::string(service->host_line),
                                  std::string(service->version_item)};
}

unsigned EcsCategoryOfGroup(unsigned group) { return group == 14 ? 16 : group; }

ResolvedAction ResolveTemplate(const RequestTemplate& request_template) {
  ResolvedAction resolved;
  resolved.service = request_template.service;
  resolved.category_number = request_template.service == kEcsService
                                 ? EcsCategoryOfGroup(request_template.group)
                                 : request_template.group;
  resolved.action_number = request_template.position;
  resolved.request_template = &request_template;
  resolved.action_name = std::string(request_template.action());
  return resolved;
}

namespace {

ResolvedAction Untemplated(unsigned service_number, std::string_view action_name) {
  ResolvedAction resolved;
  resolved.service = service_number;
  resolved.action_name = std::string(action_name);
  return resolved;
}

// Every action name a service lists or has a template for, once each.
std::vector<std::string_view> ListedActionNames(unsigned service_number) {
  std::vector<std::string_view> names;
  auto add = [&names](std::string_view name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(name);
    }
  };
  for (const RequestTemplate& entry : Templates()) {
    if (entry.service == service_number) add(entry.action());
  }
  if (service_number == kEcsService) {
    const std::size_t categories = CategoryList(0).Count();
    for (std::size_t category = 0; category < categories; ++category) {
      const core::StringListView actions = ActionList(0, category);
      for (std::size_t k = 1; k <= actions.Count(); ++k) add(actions.Entry(k));
    }
  } else if (service_number == kApiGatewayService) {
    for (const GatewayMeaning& meaning : kGatewayMeanings) add(meaning.action);
  }
  return names;
}

}  // namespace

core::Result<ResolvedAction> ForcedAction(unsigned service_number, std::string_view name) {
  const bool looks_like_action =
      !name.empty() && name.size() <= 128 &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
      std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
      });
  if (!looks_like_action) {
    return core::Status::InvalidInput(
        "an action name is letters and digits, starting with a letter");
  }
  if (FindService(service_number) == nullptr) return core::Status::InvalidInput("no such service");
  return Untemplated(service_number, name);
}

std::vector<std::string> ClosestActionNames(unsigned service_number, std::string_view name,
                                            std::size_t limit) {
  return core::ClosestWords(name, ListedActionNames(service_number), limit);
}

std::optional<ResolvedAction> ResolveActionName(unsigned service_number, std::string_view name) {
  if (name.empty()) return std::nullopt;
  for (const RequestTemplate& entry : Templates()) {
    if (entry.service == service_number && core::EqualsIgnoreCase(entry.action(), name)) {
      return ResolveTemplate(entry);
    }
  }
  if (service_number == kIotService) {
    core::StringListView displays = ActionList(ServicePosition(kIotService), 0);
    for (std::size_t k = 1; k <= displays.Count(); ++k) {
      if (displays.Entry(k) == name) {
        const RequestTemplate* found = FindTemplate(kIotService, 1, static_cast<unsigned>(k));
        if (found != nullptr) return ResolveTemplate(*found);
      }
    }
  } else if (service_number == kApiGatewayService) {
    for (const GatewayMeaning& meaning : kGatewayMeanings) {
      if (meaning.display_name == name) {
        return ResolveGatewayDisplayName(meaning.group, name);
      }
    }
  }
  // A listed action without a template is sent under its own name.
  for (std::string_view listed : ListedActionNames(service_number)) {
    if (core::EqualsIgnoreCase(listed, name)) return Untemplated(service_number, listed);
  }
  return std::nullopt;
}

std::optional<ResolvedAction> ResolveBrowsingEntry(std::size_t service_position,
                                                   std::size_t category_position,
                                                   std::size_t entry_position) {
  std::string_view entry =
      ActionList(service_position, category_position).Entry(entry_position + 1);
  if (entry.empty()) return std::nullopt;
  switch (service_position) {
    case 0:
      return ResolveActionName(kEcsService, entry);
    case 1: {
      const RequestTemplate* found =
          FindTemplate(kIotService, 1, static_cast<unsigned>(entry_position + 1));
      if (found == nullptr) return std::nullopt;
      return ResolveTemplate(*found);
    }
    case 2:
      return ResolveGatewayDisplayName(static_cast<unsigned>(category_position + 1), entry);
    default:
      return std::nullopt;
  }
}

core::StringListView DisplayCaptions(const ResolvedAction& action) {
  if (action.request_template == nullptr) return {};
  const ActionSpec* spec = ActionSpecOf(action);
  if (spec != nullptr && spec->captions.Count() != 0) return spec->captions;
  return action.request_template->parameter_names();
}

}  // namespace kestrune::catalogue
