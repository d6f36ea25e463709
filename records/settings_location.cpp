#include "records/settings_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quorvik {

namespace {

std::string HomeFromPasswordDatabase() {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr)
    return {};
  return found->pw_dir;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

ConfigEnvironment ProcessConfigEnvironment() {
  ConfigEnvironment environment;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) environment.xdgConfigHome = xdg;
  const char* home = std::getenv("HOME");
  environment.home = home != nullptr && *home != '\0' ? home : HomeFromPasswordDatabase();
  return environment;
}

std::string SettingsPathFor(const std::string& workDir, const ConfigEnvironment& environment) {
  // The double slash is how earlier versions wrote the path; keeping it keeps
  // every message that shows the path the same for existing set-ups.
  const std::string local = workDir + "//" + kSettingsFileName;
  if (IsRegularFile(local)) return local;
  std::string configHome;
  if (!environment.xdgConfigHome.empty() && environment.xdgConfigHome.front() == '/')
    configHome = environment.xdgConfigHome;
  else if (!environment.home.empty())
    configHome = environment.home + "/.config";
  else
    return local;
  while (configHome.size() > 1 && configHome.back() == '/') configHome.pop_back();
  return configHome + "/quorvik/" + kSettingsFileName;
}

std::string CurrentWorkingDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string SettingsFilePath(const std::string& workDir) {
  return SettingsPathFor(workDir, ProcessConfigEnvironment());
}

std::string CreateFolders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return {};
    return "cannot create the folder " + folder + ": a file of that name is in the way";
  }
  // Parents first, each one only if it is missing.
  const auto slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    std::string why = CreateFolders(folder.substr(0, slash));
    if (!why.empty()) return why;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create the folder " + folder + ": " + std::strerror(errno);
  return {};
}

}  // namespace quorvik
