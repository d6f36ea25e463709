// Any bytes as a settings file, then a write of a key: the value must read
// back (on one line, without surrounding blanks) and another key must keep
// its value.
//
// Input: first byte = key length k (mod 16), then k key bytes, a value up
// to the first 0xFF byte, and the rest as the file's old content.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "records/settings_file.h"
#include "scratch_path.h"

using namespace quorvik;

namespace {

std::string Trimmed(std::string s) {
  std::replace_if(
      s.begin(), s.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; }, ' ');
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CFuzzScratchFile scratch("settings.ini");
  const std::string& path = scratch.Path();
  if (size < 1) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t keyLength = std::min<size_t>(input[0] & 15, size - 1);
  std::string key;
  // Keys are names the program chooses: letters and underscores.
  for (size_t i = 1; i <= keyLength; ++i) key += static_cast<char>('A' + (data[i] % 26));
  if (key.empty() || key == "OTHER") key = "HIDDEN";
  const size_t valueEnd = input.find('\xFF', keyLength + 1);
  const std::string value = input.substr(
      keyLength + 1, valueEnd == std::string::npos ? std::string::npos : valueEnd - keyLength - 1);
  const std::string old = valueEnd == std::string::npos ? "" : input.substr(valueEnd + 1);
  std::ofstream(path, std::ios::binary) << old;

  CSettingsFile settings(path);
  (void)settings.Read("APP", key);
  if (!settings.Write("APP", "OTHER", "kept")) std::abort();
  if (!settings.Write("APP", key, value)) std::abort();
  if (settings.Read("APP", key) != Trimmed(value)) std::abort();
  if (settings.Read("APP", "OTHER") != "kept") std::abort();
  ::unlink(path.c_str());
  return 0;
}
