// Every value of a reply as a row named by where it stands, for a user who
// wants no value left out: the formatters show chosen fields under their bare
// names, so a value they do not choose, or one of three elements named alike
// (an instance's public, private and elastic IpAddress), is lost to them.
//
// A row's Field is the element's path of names, joined by dots, below the
// record it belongs to (PublicIpAddress.IpAddress, EipAddress.IpAddress), or
// below the reply's root element when it belongs to none (RequestId,
// TotalCount, Data.ProductKey). Records are the items of a list: an element,
// below the root element, whose children are all elements of one name that
// hold elements themselves (Instances holding Instance, Data holding
// DeviceInfo). A list that holds one item which is itself a list stands for
// that inner list (Data holding List holding EventInfo: the EventInfo are the
// records). Lists inside a record stay in it, their items' values named by
// their paths (Tags.Tag.TagKey once per tag).
//
// Rows come in groups, with a record break between two groups: RequestId;
// then every other value outside the records, in document order; then one
// group per record, in document order. An empty value is not shown, and a
// record without a value shown has no group. Values are decoded and shown as
// Extractor::ShowValue shows them, each with its two trace lines.
//
// A path deeper or longer than a row can sensibly name keeps its last names,
// after a leading "…", so a hostile reply nested a million levels deep costs
// no more than a plain one of its size.
//
// Stateless; runs on the caller's extractor (not thread-safe).
#pragma once

#include <cstddef>
#include <string_view>

#include "report/extractor.h"

namespace kestrune::report {

// The longest Field of a row ShowAllFields makes, in bytes.
inline constexpr std::size_t kMaxFieldPath = 200;

// Shows every leaf of `reply` (its raw XML text) as above, in one pass over
// the text. Returns the number of value rows inserted (record breaks not
// counted).
std::size_t ShowAllFields(std::string_view reply, Extractor& extractor);

}  // namespace kestrune::report
