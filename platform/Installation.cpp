#include "platform/Installation.h"

#include "platform/FileSystem.h"

#include <QStandardPaths>
#include <QString>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#ifndef VANTREL_INSTALL_BINDIR
#error "the build passes the bin folder of its install prefix as VANTREL_INSTALL_BINDIR"
#endif

namespace platform {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

// The path with every link resolved, or the path as given when it does not exist.
std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved)
                                                         : WithoutTrailingSlashes(path);
}

} // namespace

bool IsInstalledProgramDir(const std::string& programDir) {
    if (programDir.empty())
        return false;
    const std::string dir = Resolved(programDir);
    for (const char* systemDir : {"/usr/bin", "/usr/local/bin", "/bin", VANTREL_INSTALL_BINDIR})
        if (dir == WithoutTrailingSlashes(systemDir) || dir == Resolved(systemDir))
            return true;
    // Effective rights, as the writes would have them. Root passes this test everywhere, which
    // is why the folders above are named.
    return ::faccessat(AT_FDCWD, programDir.c_str(), W_OK | X_OK, AT_EACCESS) != 0;
}

bool ProgramIsInstalled() {
    return IsInstalledProgramDir(ProgramDir());
}

std::string SettingsFilePath(const std::string& fileName, const std::string& programDir,
                             const char* xdgConfigHome, const char* home) {
    const std::string beside = WithTrailingSlash(programDir) + fileName;
    if (!IsInstalledProgramDir(programDir))
        return beside;
    // A relative configuration home is to be ignored.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        return WithTrailingSlash(xdgConfigHome) + "VantrelBackup/" + fileName;
    if (home != nullptr && home[0] == '/')
        return WithTrailingSlash(home) + ".config/VantrelBackup/" + fileName;
    return beside;
}

std::string SettingsFilePath(const std::string& fileName) {
    return SettingsFilePath(fileName, ProgramDir(), std::getenv("XDG_CONFIG_HOME"),
                            std::getenv("HOME"));
}

std::string PicturesDir() {
    // The user-dirs file is meant to be sourced by a shell, so the variable may be set too.
    if (const char* set = std::getenv("XDG_PICTURES_DIR"); set != nullptr && set[0] == '/')
        return WithTrailingSlash(set);
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QStandardPaths::writableLocation(QStandardPaths::HomeLocation) +
                   QStringLiteral("/Pictures");
    return WithTrailingSlash(pictures.toStdString());
}

std::string DefaultDestination() {
    return ProgramIsInstalled() ? PicturesDir() + "VantrelBackup/" : ProgramDir();
}

} // namespace platform
