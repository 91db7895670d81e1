// measure OUT_FILE COMMAND [ARGS...]: runs the command (its standard output
// and error sent to /dev/null) and writes to OUT_FILE one line:
//   wall_seconds cpu_seconds peak_rss_kb exit_status
// wall from the monotonic clock around spawn and wait, CPU = user + system of the
// child from wait4 (microsecond resolution, unlike /usr/bin/time's 10 ms),
// peak RSS = ru_maxrss.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv)
{
    const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    if (argc < 3) {
        std::fputs("usage: measure OUT_FILE COMMAND [ARGS...]\n"
                   "Runs COMMAND and writes \"wall_seconds cpu_seconds peak_rss_kb exit_status\" to OUT_FILE.\n",
                   help ? stdout : stderr);
        return help ? 0 : 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
        std::perror("posix_spawnp");
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 1;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "%.4f %.4f %ld %d\n", wall, cpu, usage.ru_maxrss, code);
    return std::fclose(out) == 0 ? 0 : 1;
}
