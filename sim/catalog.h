// The three services the simulator plays and the actions each one knows:
// their hosts and API versions, the parameters an action cannot do without,
// and a compact description of the generic reply for actions that need no
// state of their own.
//
// Constant data; safe from any thread.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace kestrune::sim {

enum class Service { kEcs, kIot, kApiGateway };

struct ServiceInfo {
  Service service;
  std::string_view name;     // "ecs", "iot", "apigateway"
  std::string_view host;     // the service's global host
  std::string_view version;  // the API version it accepts
};

struct ActionInfo {
  std::string_view name;
  // Space-separated names of parameters that must be present and non-empty.
  std::string_view required;
  // Generic reply, space-separated tokens, in element order:
  //   Name=prefix   a fresh id: prefix followed by random characters
  //   Name:text     the literal text
  //   ?Name         the boolean true
  //   @List/Item    TotalCount 0, PageNumber, PageSize and an empty list
  //   #List/Item    an empty list
  //   Name          the request's own value of parameter Name
  // Actions with state of their own are answered by code; their text is "".
  std::string_view reply;
};

const ServiceInfo& InfoFor(Service service);
std::span<const ServiceInfo> AllServices();
std::optional<Service> ServiceByName(std::string_view name);
// The service whose host this is: the global hosts and each service's
// regional hosts, public ("ecs.<region>.aliyuncs.com", the old
// "ecs-<region>.aliyuncs.com", "iot.<region>…", "apigateway.<region>…") and
// VPC ("ecs-vpc.<region>.aliyuncs.com" and so on). A port suffix is ignored;
// case is ignored.
std::optional<Service> ServiceForHost(std::string_view host);

std::span<const ActionInfo> ActionsOf(Service service);
// Exact, case-sensitive lookup. "DescribeUserdata" is ECS's accepted spelling
// of DescribeUserData (the service names the reply after the spelling sent).
const ActionInfo* FindAction(Service service, std::string_view name);

}  // namespace kestrune::sim
