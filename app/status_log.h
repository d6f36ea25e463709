#pragma once
// The three lines of the status log, oldest first.

#include <string>
#include <vector>

namespace quorvik {

class CStatusLog {
 public:
  static constexpr size_t kLines = 3;

  void Add(std::string text) {
    m_lines.push_back(std::move(text));
    if (m_lines.size() > kLines) m_lines.erase(m_lines.begin());
  }
  const std::vector<std::string>& Lines() const { return m_lines; }

 private:
  std::vector<std::string> m_lines;
};

}  // namespace quorvik
