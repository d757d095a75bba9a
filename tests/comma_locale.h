// Puts the process under de_DE.UTF-8, a locale that writes numbers with a
// decimal comma, for tests of texts that must keep their '.'. When the system
// has not generated that locale, it is compiled once with localedef (from the
// `locales` package's sources) into the build tree and reached through LOCPATH.
#pragma once

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef PELKOR_TEST_LOCALE_DIR
#error "PELKOR_TEST_LOCALE_DIR names the folder for the compiled test locale"
#endif

class CCommaLocale {
  public:
    static constexpr const char* kName = "de_DE.UTF-8";

    CCommaLocale() {
        if (Switch()) return;
        namespace fs = std::filesystem;
        const fs::path dir = PELKOR_TEST_LOCALE_DIR;
        std::error_code ec;
        int status = 0;
        // The C library remembers a locale it did not find, so it is only
        // looked up under LOCPATH once it is there.
        if (!fs::exists(dir / kName / "LC_NUMERIC", ec)) {
            // Compiled beside the final name and renamed into place, so tests
            // that run at the same time never see half a locale.
            fs::create_directories(dir, ec);
            const fs::path scratch = dir / ("tmp-" + std::to_string(getpid()));
            fs::remove_all(scratch, ec);
            fs::create_directories(scratch, ec);
            const std::string command = "localedef -c -i de_DE -f UTF-8 '" +
                                        (scratch / kName).string() + "' >/dev/null 2>&1";
            status = std::system(command.c_str());
            fs::rename(scratch / kName, dir / kName, ec);
            fs::remove_all(scratch, ec);
        }
        setenv("LOCPATH", dir.c_str(), 1);
        if (Switch()) return;
        error_ = "cannot use " + std::string(kName) + " (localedef exit status " +
                 std::to_string(status) + "; is the package `locales` installed?)";
    }
    ~CCommaLocale() { std::setlocale(LC_ALL, "C"); }
    CCommaLocale(const CCommaLocale&) = delete;
    CCommaLocale& operator=(const CCommaLocale&) = delete;

    // Empty once the locale is in force, otherwise why it is not.
    const std::string& Error() const { return error_; }

  private:
    // True when the locale is set and printf really writes a comma.
    static bool Switch() {
        if (std::setlocale(LC_ALL, kName) == nullptr) return false;
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 8.25);
        return std::string(text) == "8,2";
    }

    std::string error_;
};
