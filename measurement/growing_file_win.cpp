// CGrowingFile on Windows: a temporary file of this process beside the target,
// flushed, then moved over the target.
#include "measurement/win_text.h"  // windows.h, and UTF-16 paths

#include <algorithm>
#include <atomic>

#include "measurement/growing_file.h"

struct CGrowingFile::Impl {
    HANDLE h = INVALID_HANDLE_VALUE;
    std::wstring temp;
    std::wstring target;
};

namespace {

std::string Reason(const std::string& what, const std::string& path, DWORD err) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, err, 0, text, sizeof text, nullptr);
    std::string reason(text, n);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    if (reason.empty()) reason = "system error " + std::to_string(err);
    return "cannot " + what + " " + path + ": " + reason;
}

}  // namespace

CGrowingFile::CGrowingFile() : impl_(std::make_unique<Impl>()) {}

CGrowingFile::~CGrowingFile() {
    Abandon();
}

bool CGrowingFile::IsOpen() const {
    return impl_->h != INVALID_HANDLE_VALUE;
}

void CGrowingFile::Abandon() {
    if (impl_->h == INVALID_HANDLE_VALUE) return;
    CloseHandle(impl_->h);
    impl_->h = INVALID_HANDLE_VALUE;
    DeleteFileW(impl_->temp.c_str());
}

bool CGrowingFile::Open(const std::string& path, std::string* error) {
    Abandon();
    path_ = path;
    error_.clear();
    if (path.empty() || path.back() == '/' || path.back() == '\\') {
        if (error != nullptr) *error = Reason("write", path, ERROR_DIRECTORY);
        return false;
    }
    static std::atomic<unsigned> serial{0};
    impl_->target = Wide(path);
    impl_->temp = impl_->target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(serial.fetch_add(1)) + L".tmp";
    impl_->h = CreateFileW(impl_->temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (impl_->h == INVALID_HANDLE_VALUE) {
        if (error != nullptr) *error = Reason("write", path, GetLastError());
        return false;
    }
    return true;
}

bool CGrowingFile::Append(const void* data, size_t size) {
    if (impl_->h == INVALID_HANDLE_VALUE || Failed()) return false;
    // WriteAtStart may have moved the file pointer.
    SetFilePointerEx(impl_->h, LARGE_INTEGER{}, nullptr, FILE_END);
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (WriteFile(impl_->h, p, chunk, &written, nullptr) == FALSE) {
            error_ = Reason("write", path_, GetLastError());
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

bool CGrowingFile::WriteAtStart(const std::string& data) {
    if (impl_->h == INVALID_HANDLE_VALUE) return false;
    if (SetFilePointerEx(impl_->h, LARGE_INTEGER{}, nullptr, FILE_BEGIN) == FALSE) {
        if (error_.empty()) error_ = Reason("write", path_, GetLastError());
        return false;
    }
    DWORD written = 0;
    if (WriteFile(impl_->h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ==
            FALSE ||
        written != data.size()) {
        if (error_.empty()) error_ = Reason("write", path_, GetLastError());
        return false;
    }
    return true;
}

bool CGrowingFile::Finish(std::string* error, bool keepOnError) {
    if (impl_->h == INVALID_HANDLE_VALUE) {
        if (error != nullptr) *error = "no file is open";
        return false;
    }
    HANDLE h = impl_->h;
    impl_->h = INVALID_HANDLE_VALUE;
    if (FlushFileBuffers(h) == FALSE && error_.empty()) {
        error_ = Reason("write", path_, GetLastError());
    }
    if (CloseHandle(h) == FALSE && error_.empty()) error_ = Reason("write", path_, GetLastError());
    if (!error_.empty() && !keepOnError) {
        DeleteFileW(impl_->temp.c_str());
        if (error != nullptr) *error = error_;
        return false;
    }
    if (MoveFileExW(impl_->temp.c_str(), impl_->target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        const DWORD err = GetLastError();
        DeleteFileW(impl_->temp.c_str());
        if (error_.empty()) error_ = Reason("replace", path_, err);
        if (error != nullptr) *error = error_;
        return false;
    }
    if (!error_.empty()) {
        if (error != nullptr) *error = error_;
        return false;
    }
    return true;
}
