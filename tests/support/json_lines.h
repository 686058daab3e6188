// The JSON objects a program printed one a line (the command line's --json output).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tallyvet::testing {

inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  }
  return lines;
}

}  // namespace tallyvet::testing
