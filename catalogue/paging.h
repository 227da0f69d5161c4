// Which actions page their lists, and how: the page-number walk (PageNumber,
// PageSize, the reply's TotalCount) with the largest page the service accepts
// for the action, and the element whose children are the records, so that
// the records of every page can be shown as one list.
//
// Constant data; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrune::catalogue {

struct PagingInfo {
  // The element whose children are the records, e.g. "Instances".
  std::string_view list_element;
  // The largest PageSize (and MaxResults) the service accepts.
  std::uint32_t max_page_size;
};

// The paging of an action of service 1, 2 or 3 (exact action name), or nullopt
// for an action that has no pages.
std::optional<PagingInfo> PagingOf(unsigned service_number, std::string_view action);

}  // namespace kestrune::catalogue
