// Byte-string helpers shared by the server and the multipart parser (ASCII rules only).
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace cendra_standin {
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string Trim(const std::string& s);  // blanks and tabs at both ends
// The "; key=value" parameters of a header value, quotes removed, in order.
std::vector<std::pair<std::string, std::string>> HeaderParameters(const std::string& value);
// %XX to its byte (a malformed escape stays as it is); with plusAsSpace, "+" becomes a blank.
std::string PercentDecode(const std::string& s, bool plusAsSpace);
}  // namespace cendra_standin
