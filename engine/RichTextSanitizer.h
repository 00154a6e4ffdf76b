// Rich text that arrives as job data made safe to draw. A viewer draws a rich
// text's HTML in a browser or its RTF in a word processor's renderer; markup
// from a customer's record must not run a script there or make it fetch a
// file. So content that carries job data keeps only the markup the engine's
// own converters write and read, and everything else goes:
//
// HTML keeps the elements p, div, br, span, strong, b, em, i, u, s, strike,
// sup, sub, ul, ol, li and a; on them a style attribute with the properties
// color, background-color, background (a colour only), font-family,
// font-size, font-weight, font-style, text-decoration (and
// text-decoration-line) and text-align, each with a value of its plain
// grammar (no url(), no function but the colour ones, no escape); and on "a"
// an href whose scheme is http, https or mailto once references, tabs and line
// breaks are read as a browser reads them. Every other attribute goes (event
// handlers, src, class ...); a relative or scheme-less link goes too: a report
// has no address to resolve it against. Elements that carry code or data
// (script, style, svg, math, iframe, object, template, noscript, select ...)
// go with their content; other elements (img, input, form, font, table ...)
// go and leave their text. Comments and declarations go. The HTML written is
// well-formed: the tags balance and nest, attribute values are quoted, text
// is escaped, and the tags a browser closes by itself (a paragraph before a
// list or a division, a list item before the next) are closed in the text,
// so a browser builds the tree the sanitizer kept.
//
// RTF keeps its text and formatting and drops the groups that fetch, embed
// or run: field instructions (a field keeps its result text, unwrapped from
// the field), pictures, shapes, objects, binary data, encapsulated HTML tags,
// attached templates and data stores. Its groups balance.
//
// Both are one pass over the input with no recursion; the RTF is split by the
// RTF reader's own lexer.
#pragma once

#include <string>
#include <string_view>

namespace kx {

// The HTML fragment with only the kept markup, well-formed.
std::string KXRICHTEXTSANITIZEHTML(std::string_view html);
// The RTF without fields' instructions, pictures, shapes, objects and the like.
std::string KXRICHTEXTSANITIZERTF(std::string_view rtf);
// The content made safe in its format: "html" and "rtf" as above; plain text is text
// and comes back unchanged.
std::string KXRICHTEXTSANITIZE(std::string_view content, std::string_view format);

}  // namespace kx
