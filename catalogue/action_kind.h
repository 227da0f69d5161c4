// What sending an action twice can do: whether it only reads, or changes
// something, and whether a ClientToken makes a repeat of a change harmless.
// The retry rule of the engine rests on this: a request whose outcome is
// unknown is sent again only when that cannot change anything twice.
//
// Constant data; safe from any thread.
#pragma once

#include <string_view>

namespace kestrune::catalogue {

enum class ActionKind {
  kReadOnly,    // reads only: Describe..., List..., Query..., Get..., Check..., BatchGet...
  kIdempotent,  // a change that takes a ClientToken: a repeat with the same token is harmless
  kMutating,    // any other change: a repeat may carry it out twice
};

// Whether service 1, 2 or 3's action (exact name) takes a ClientToken: its
// parameter list (KnownParameters) holds one. An action without a list
// takes none, so it is never treated as safe to repeat.
bool TakesClientToken(unsigned service_number, std::string_view action);

// The kind of an action of service 1, 2 or 3 (exact name). A read-only name
// is told by its verb; a change is kIdempotent when it takes a ClientToken,
// else kMutating; so is any name this build does not know.
ActionKind KindOfAction(unsigned service_number, std::string_view action);

}  // namespace kestrune::catalogue
