// Small helpers over the raw XML text of a reply: reference decoding for
// shown values, and a scan of the leaf elements for replies that no formatter
// knows.
//
// Neither parses the document: elements are found by their tags, as the rest
// of the extraction does. Stateless; safe from any thread.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kestrune::report {

// Decodes the five predefined entities (&lt; &gt; &amp; &quot; &apos;) and
// numeric character references (&#NNN; &#xHHH;) into UTF-8. A reference that
// is malformed, unknown, or names no character (0, a surrogate, past U+10FFFF)
// stays as it stands.
std::string DecodeXmlText(std::string_view raw);
// The same, appended to `out`.
void AppendDecodedXmlText(std::string& out, std::string_view raw);

// A leaf element: one that holds text and no element. `raw_value` is the text
// between its tags, undecoded; `parents` the names of the elements it is in,
// the root first.
struct XmlLeaf {
  std::string_view name;
  std::string_view raw_value;
  std::span<const std::string_view> parents{};
};

// Calls `visit` for every leaf element of `document`, in document order.
// Elements with attributes count by their name; empty-element tags
// ("<Name/>") are leaves with an empty value; the XML declaration, comments,
// processing instructions and CDATA sections are skipped as markup. Returns
// the number of leaves visited.
std::size_t ForEachLeaf(std::string_view document,
                        const std::function<void(const XmlLeaf&)>& visit);

}  // namespace kestrune::report
