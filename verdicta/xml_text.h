// Text for the content of an XML element of a UTF-8 document.
#pragma once
#include <string>
#include <string_view>

namespace verdicta {

// The message as element content that any XML reader gives back unchanged: "<", ">", "&" and the
// carriage return become character references (a bare CR would be read as a line end). Bytes that are
// not UTF-8, and characters XML cannot hold at all (controls other than tab, line feed and CR), become
// U+FFFD, so the document stays well-formed whatever the caller passed.
std::string xmlElementText(std::string_view utf8);

}  // namespace verdicta
