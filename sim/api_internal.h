// What the action handlers of sim/api_*.cc share: the call being answered with
// its reply under construction, the parameter and paging helpers, and each
// resource family's table of handlers, which RunAction dispatches through.
// Internal to the simulator's API; sim/api.h is its public face.
//
// Not thread-safe: runs under the owning Gateway's lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/api.h"

namespace kestrune::sim {

using ActionResult = std::variant<ActionReply, ApiError>;

// One call being answered: the world it reads and changes, its parameters,
// and the reply tree, whose root already holds the RequestId.
class ActionContext {
 public:
  ActionContext(World& world, const ActionCall& call);

  World& world() { return world_; }
  const ActionCall& call() const { return call_; }
  const std::vector<QueryParam>& params() const { return params_; }
  Node& root() { return root_; }

  // Value of the first parameter with this name, or "" when absent.
  std::string_view P(std::string_view name) const { return ParamValue(params_, name); }

  // Hands over the reply; large listings go out in chunks of `chunk_size`.
  ActionResult Done(std::size_t chunk_size = 0);
  // Pages built records into the reply, with the page fields first.
  ActionResult PagedList(Node list, const std::vector<Node>& records, std::int64_t max_size = 100);

 private:
  World& world_;
  const ActionCall& call_;
  const std::vector<QueryParam>& params_;
  Node root_;
};

// An action answered by code of its own rather than by its catalogue reply.
struct ActionHandler {
  Service service;
  std::string_view name;
  ActionResult (*run)(ActionContext& context);
};

// Each resource family's handlers, defined in the file named beside it.
std::span<const ActionHandler> RegionHandlers();    // api_regions.cc
std::span<const ActionHandler> InstanceHandlers();  // api_instances.cc
std::span<const ActionHandler> StorageHandlers();   // api_storage.cc
std::span<const ActionHandler> NetworkHandlers();   // api_network.cc

// Appends one instance to a DescribeInstances list (api_instance_record.cc).
void AddInstanceRecord(Node& list, const Instance& instance);

// Reads an optional integer parameter within [low, high].
std::variant<std::int64_t, ApiError> IntParam(const std::vector<QueryParam>& params,
                                              std::string_view name, std::int64_t fallback,
                                              std::int64_t low, std::int64_t high);

// "[\"i-a\",\"i-b\"]" or "i-a,i-b" into ids.
std::vector<std::string> ParseIdList(std::string_view text);

struct Page {
  std::int64_t number;
  std::int64_t size;
};

// PageNumber (default 1) and PageSize (default 10, at most `max_size`).
std::variant<Page, ApiError> ReadPage(const std::vector<QueryParam>& params, std::int64_t max_size);

template <typename T>
std::vector<T> Slice(const std::vector<T>& all, const Page& page) {
  const auto begin = static_cast<std::size_t>((page.number - 1) * page.size);
  if (begin >= all.size()) return {};
  const std::size_t end = std::min(all.size(), begin + static_cast<std::size_t>(page.size));
  return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(begin),
                        all.begin() + static_cast<std::ptrdiff_t>(end));
}

}  // namespace kestrune::sim
