#pragma once
// Where the settings file lives. A Quorvik.ini in the working directory wins,
// so that a set-up kept beside its firmware files goes on working exactly as
// before; everyone else gets the per-user configuration folder, which is
// where a program started from the desktop menu should keep its state.

#include <string>

namespace quorvik {

constexpr const char* kSettingsFileName = "Quorvik.ini";

// The parts of the environment the choice depends on.
struct ConfigEnvironment {
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME, possibly empty
  std::string home;           // $HOME, else the password database's entry
};

ConfigEnvironment ProcessConfigEnvironment();

// `workDir`/Quorvik.ini when a regular file (or a link to one) is there,
// spelled as earlier versions spelled it; else Quorvik.ini in the "quorvik"
// folder of the configuration home. A relative $XDG_CONFIG_HOME is ignored,
// as the base-directory rules ask; with no home at all the working directory
// is the only place left.
std::string SettingsPathFor(const std::string& workDir, const ConfigEnvironment& environment);

// The whole current working directory, however long.
std::string CurrentWorkingDirectory();

// The rule above for this process.
std::string SettingsFilePath(const std::string& workDir);

// Creates `folder` and any missing parents, private to the user. Empty on
// success, else why it could not be made.
std::string CreateFolders(const std::string& folder);

}  // namespace quorvik
