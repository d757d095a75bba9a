// The check before a run on Windows: a folder is no output, a read-only file is
// not replaced, and the target's folder must take a new file (tried with a
// probe that deletes itself on close).
#include "measurement/win_text.h"  // windows.h, and UTF-16 paths

#include <string>

#include "measurement/export.h"

namespace {

std::string Reason(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Access denied";
        case ERROR_DIRECTORY:
            return "Is a directory";
        default:
            return "system error " + std::to_string(err);
    }
}

}  // namespace

bool CheckOutputPath(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = "cannot write " + path + ": " + why;
        return false;
    };
    if (path.empty() || path.back() == '/' || path.back() == '\\') {
        return fail(Reason(ERROR_DIRECTORY));
    }
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return fail(Reason(ERROR_DIRECTORY));
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return fail(Reason(ERROR_ACCESS_DENIED));
    }
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const DWORD folderAttributes = GetFileAttributesW(Wide(folder).c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES) return fail(Reason(GetLastError()));
    if ((folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return fail("Not a directory");
    const std::wstring probe =
        Wide(folder) + L"\\.pelkor-check-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return fail("the folder " + folder + " is not writable: " + Reason(GetLastError()));
    }
    CloseHandle(h);
    return true;
}
