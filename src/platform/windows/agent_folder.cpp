#include "platform/windows/agent_folder.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include "platform/windows/utf16.h"

namespace veltrix::win {

std::string agentStateFolder() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path)) && path) folder = toUtf8(path);
    if (path) CoTaskMemFree(path);
    if (folder.empty()) folder = "C:\\ProgramData";
    return folder + "\\Veltrix";
}

Status restrictToAdministrators(const std::string& folder) {
    // Full control for SYSTEM and the Administrators, inherited by files and
    // folders below; "P" keeps the wider rights of the parent out.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return Failure{static_cast<std::int32_t>(GetLastError()), folder + ": cannot make the access list"};
    }
    const BOOL set = SetFileSecurityW(toWide(folder).c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                      descriptor);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!set) {
        return Failure{static_cast<std::int32_t>(error),
                       folder + ": cannot restrict access to SYSTEM and the Administrators (error " +
                           std::to_string(error) + ")"};
    }
    return {};
}

}  // namespace veltrix::win
