// SQL text literals for the statements of the data buffer that are built as text rather than
// bound: an IN (...) list of document identifiers has no fixed number of parameters.
//
// A literal is the text in single quotes with each inner quote doubled, so no identifier can
// end the literal early; every other byte is copied unchanged.
#pragma once

#include <string>
#include <vector>

namespace dct {

std::string SQLTextLiteral(const std::string& text);
// The literals of ids joined by ", "; empty for no ids.
std::string StringArrayToSQLList(const std::vector<std::string>& ids);

}  // namespace dct
