// Whole-file replacement on Windows: a temporary file beside the target, flushed
// to disk, then put in the target's place in one step, so a reader sees the old
// file or the new one, never half.
#include "measurement/win_text.h"  // windows.h, and UTF-16 paths

#include <algorithm>
#include <atomic>
#include <string>

#include "measurement/export.h"

namespace {

std::string SystemReason(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Access denied";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "The file is in use by another program";
        case ERROR_DIRECTORY:
            return "Is a directory";
        default:
            break;
    }
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, err, 0, text, sizeof text, nullptr);
    std::string reason(text, n);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "system error " + std::to_string(err) : reason;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error) {
    auto fail = [&](const std::string& what, DWORD err) {
        if (error != nullptr) *error = "cannot " + what + " " + path + ": " + SystemReason(err);
        return false;
    };
    const std::wstring target = Wide(path);
    if (path.empty() || path.back() == '/' || path.back() == '\\' || IsFolder(target)) {
        return fail("write", ERROR_DIRECTORY);
    }

    // A name of this process's own beside the target, so the final step stays on
    // one volume and two writers never share a temporary file.
    static std::atomic<unsigned> serial{0};
    const std::wstring temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial.fetch_add(1)) + L".tmp";
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail("write", GetLastError());
    auto abandon = [&](const std::string& what, DWORD err) {
        CloseHandle(h);
        DeleteFileW(temp.c_str());
        return fail(what, err);
    };

    size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        if (WriteFile(h, data.data() + done, chunk, &written, nullptr) == FALSE) {
            return abandon("write", GetLastError());
        }
        done += written;
    }
    if (FlushFileBuffers(h) == FALSE) return abandon("write", GetLastError());
    if (CloseHandle(h) == FALSE) {
        const DWORD err = GetLastError();
        DeleteFileW(temp.c_str());
        return fail("write", err);
    }

    // An existing file keeps its attributes and security through ReplaceFileW; a
    // new one is moved into place, written through to the disk.
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
        ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr) != FALSE) {
        return true;
    }
    if (MoveFileExW(temp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        const DWORD err = GetLastError();
        DeleteFileW(temp.c_str());
        return fail("replace", err);
    }
    return true;
}
