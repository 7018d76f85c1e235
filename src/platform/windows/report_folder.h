// Where the desktop windows put their reports on Windows: beside the
// program, unless it is installed where users cannot write (Program Files).
#pragma once

#include <string>

namespace veltrix::win {

// Whether a new file can be made in the folder, found out by making one (and
// deleting it), since rights, policies and read-only media do not show in
// a path.
bool canCreateFilesIn(const std::string& folder);

// The user's Documents folder; empty when the system names none.
std::string documentsFolder();

// `programFolder` when a file can be made there, else the user's Documents
// folder (else `programFolder`, whose failure the scan then reports).
std::string desktopReportFolder(const std::string& programFolder);

}  // namespace veltrix::win
