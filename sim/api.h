// Answers one verified call: the action's reply tree, or the service error it
// would give (unknown instance, wrong state, bad page size...).
//
// Not thread-safe: runs under the owning Gateway's lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "catalogue/catalogue.h"
#include "sim/catalog.h"
#include "sim/document.h"
#include "sim/signature.h"
#include "sim/world.h"

namespace kestrune::sim {

struct ApiError {
  int status = 400;
  std::string code;
  std::string message;
};

ApiError MissingParameterError(std::string_view name);
ApiError InvalidParameterError(std::string_view name);

struct ActionCall {
  Service service;
  std::string_view action;  // as sent (names the reply's root element)
  const std::vector<QueryParam>* params;
  std::string_view request_id;
  std::int64_t now_ms;
  // How long a state change takes (0: done at once).
  std::int64_t transition_ms = 0;
};

struct ActionReply {
  Node root;
  // Large listings go out chunked in pieces of this many bytes (0: whole).
  std::size_t chunk_size = 0;
};

// Value of the first parameter with this name, or "" when absent.
std::string_view ParamValue(const std::vector<QueryParam>& params, std::string_view name);

// True when the request asks for a page after the first: PageNumber above 1,
// or a NextToken.
bool AsksForLaterPage(const std::vector<QueryParam>& params);

std::variant<ActionReply, ApiError> RunAction(World& world, const ActionInfo& info,
                                              const ActionCall& call);

// The client catalogue's entry for an action the simulator's own table may
// lack (exact name), or nullopt when the catalogue does not list it.
std::optional<catalogue::ResolvedAction> ListedAction(Service service, std::string_view action);

// The reply for a listed action without state or a reply of its own, by its
// kind: a change gives its RequestId alone; a read that pages gives an empty
// page (TotalCount 0, PageNumber and PageSize as asked; an empty NextToken),
// with its record list where the catalogue knows it.
std::variant<ActionReply, ApiError> AnswerByKind(World& world, const ActionCall& call);

}  // namespace kestrune::sim
