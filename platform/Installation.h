#pragma once

#include <string>

// Where the program keeps its settings and, when nothing is stored, its copies. Both follow one
// test, whether the program is installed: an installed program lives in a folder that is not
// its users' to write in (or that root can write but must not), so it keeps its files in each
// user's own folders; a copy in a folder of its own keeps its settings beside itself.
namespace platform {

// A program folder counts as installed when it is /usr/bin, /usr/local/bin, /bin or the bin
// folder of the prefix the program was built to be installed in (compared after resolving
// links, so /bin linked to /usr/bin counts as either), or when its user may not write it.
bool IsInstalledProgramDir(const std::string& programDir);
bool ProgramIsInstalled();

// Where the settings file of this name lives: for an installed program in the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config) under "VantrelBackup/", for every
// user, root included; beside the program for a copy that is not installed (and where no
// configuration folder is known). The folder there is created by the first write.
std::string SettingsFilePath(const std::string& fileName);
// The same choice for a given program folder and environment, for the tests.
std::string SettingsFilePath(const std::string& fileName, const std::string& programDir,
                             const char* xdgConfigHome, const char* home);

// The user's pictures folder, with a trailing separator: $XDG_PICTURES_DIR when it is an
// absolute path, else the one the XDG user-dirs name, else ~/Pictures.
std::string PicturesDir();

// The destination the window starts with when none is stored: "VantrelBackup/" in the pictures
// folder for an installed program, which cannot write beside itself; the program's folder for a
// copy of its own. Always with a trailing separator.
std::string DefaultDestination();

} // namespace platform
