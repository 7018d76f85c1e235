#include "platform/windows/report_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/windows/utf16.h"

namespace veltrix::win {

bool canCreateFilesIn(const std::string& folder) {
    // A name of this process's own, so that two starting at once do not
    // take each other's probe for a denial.
    const std::wstring probe = toWide(folder) + L"\\.veltrix-write-probe-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::string documentsFolder() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &path)) && path) {
        folder = toUtf8(path);
    }
    if (path) CoTaskMemFree(path);
    return folder;
}

std::string desktopReportFolder(const std::string& programFolder) {
    if (canCreateFilesIn(programFolder)) return programFolder;
    std::string documents = documentsFolder();
    return documents.empty() ? programFolder : documents;
}

}  // namespace veltrix::win
