// Directory names of the client applications, for the per-application SDK log directory. An
// application is known by the MD5 digest of its executable's base name, so the table holds no
// application names in clear.
#ifndef KOVA_APP_DIRECTORY_H
#define KOVA_APP_DIRECTORY_H

#include <string>

// The directory name for an executable base name (UTF-8, without directory and extension): the
// table's name for its digest, or the 32-digit digest itself when no row has it.
std::string GetAppDirectoryName(const std::string& executableName);

// The name of the SDK log directory: "kova_sdk_logs", then "_" and GetAppDirectoryName() when the
// executable name is not empty.
std::string GetKOVALogDirectoryName(const std::string& executableName);

#endif  // KOVA_APP_DIRECTORY_H
