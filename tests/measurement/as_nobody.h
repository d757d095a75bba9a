// Runs a check in a child process as the user "nobody" when the tests run as
// root, so that file permissions bind: root passes every permission check.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// The text fn returns in the child, or "<child failed>" when it could not run.
inline std::string RunAsNobody(const std::function<std::string()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return "<child failed>";
    const pid_t child = fork();
    if (child < 0) return "<child failed>";
    if (child == 0) {
        close(fds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        const std::string text = fn();
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t w = write(fds[1], text.data() + done, text.size() - done);
            if (w <= 0) _exit(4);
            done += static_cast<size_t>(w);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "<child failed>";
}
