// How deeply a JSON text nests its arrays and objects, counted in one pass
// over the bytes without parsing them. The service's replies and the
// credential files nest a few levels; a text nested thousands of levels deep
// is hostile or broken, and every recursive walk over a parsed document
// (printing it, copying it, collecting its leaves) would exhaust the stack.
// Every JSON text is checked with this before it is parsed.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrune::core {

// The deepest nesting any JSON text is allowed.
inline constexpr std::size_t kJsonDepthLimit = 512;

// Whether `text` opens more than `limit` arrays or objects inside one another
// anywhere. Brackets inside strings do not count. The text need not be valid
// JSON: a malformed text is counted as far as it goes.
bool JsonNestsDeeperThan(std::string_view text, std::size_t limit = kJsonDepthLimit);

}  // namespace kestrune::core
