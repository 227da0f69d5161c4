// Which host a request goes to: one table of the hosts the vendor publishes
// for each product and region (public and VPC), and one resolver every face
// uses, so that the command line, its fan-out, `doctor` and the dialog always
// agree on where a region's request goes.
//
// Constant data and stateless functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"

namespace kestrune::catalogue {

// The products whose hosts are known: the three services, and STS (the token
// service temporary credentials come from).
enum class Product { kEcs, kIot, kApiGateway, kSts };

// The network a request goes over: the public internet, or the cloud's own
// VPC network (hosts reachable only from inside it).
enum class EndpointType { kPublic, kVpc };

// "public" or "vpc" (exactly); nullopt for anything else.
std::optional<EndpointType> ParseEndpointType(std::string_view text);
std::string_view EndpointTypeName(EndpointType type);

// The product of service 1, 2 or 3; nullopt for any other number.
std::optional<Product> ProductOfService(unsigned service_number);

struct ResolvedHost {
  std::string host;
  // Whether the published data lists this host. A host the data lacks
  // follows the vendor's rule, "<product>.<region>.aliyuncs.com" (VPC:
  // "<product>-vpc.<region>.aliyuncs.com"), which may not exist.
  bool listed = true;
};

// Refuses a region id that could not stand inside a host name: empty, longer
// than a DNS label (63), a character other than an ASCII letter, digit or
// '-' (the message names it), or a '-' at either end. Nothing is sent for such
// a region, as its host would be some other host or none.
core::Status CheckRegionId(std::string_view region);

// The host of `product` in `region` over `type`. An empty region means none
// was chosen: the product's central host (ECS ecs.aliyuncs.com, IoT
// iot.aliyuncs.com, API Gateway apigateway.cn-qingdao.aliyuncs.com, STS
// sts.aliyuncs.com), whatever the type, as no VPC host serves every region.
// A region CheckRegionId refuses gives its refusal.
core::Result<ResolvedHost> ResolveHost(Product product, std::string_view region, EndpointType type);

}  // namespace kestrune::catalogue
