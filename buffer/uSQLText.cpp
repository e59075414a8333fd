#include "buffer/uSQLText.h"

namespace dct {

std::string SQLTextLiteral(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  for (char ch : text) {
    if (ch == '\'') out.push_back('\'');  // doubling is SQL's only escape inside a literal
    out.push_back(ch);
  }
  out.push_back('\'');
  return out;
}

std::string StringArrayToSQLList(const std::vector<std::string>& ids) {
  std::string out;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) out += ", ";
    out += SQLTextLiteral(ids[i]);
  }
  return out;
}

}  // namespace dct
