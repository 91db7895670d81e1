// The platform contract on POSIX systems, the process's side: other
// processes, the console's descriptors, the interrupt watch and the folder
// lock.
#include "base/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>

unsigned long current_process_id() { return static_cast<unsigned long>(getpid()); }

bool process_is_running(unsigned long id)
{
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

void hold_standard_descriptors()
{
    // Descriptors are handed out lowest first: open gives the closed one.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

// What a watch holds on POSIX: the thread that waits for the signals, and
// the signal mask the constructor found, which the destructor puts back.
struct interrupt_watch::state {
    std::function<void()> on_interrupt;
    sigset_t saved_mask;
    std::atomic<bool> stopping{false};
    std::thread watcher;
};

namespace {

// The interrupts waited for, and the one that wakes the watcher to stop.
sigset_t watched_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&set, signal_number);
    return set;
}

// Waits for the watched signals until the watch stops: an interrupt runs the
// handler here, where it may lock and free as any code can, and then ends
// the process as the signal would have.
void watch_signals(interrupt_watch::state& watch, const sigset_t& set)
{
    for (;;) {
        int signal_number = 0;
        if (sigwait(&set, &signal_number) != 0)
            continue;
        if (signal_number == SIGUSR1) {
            if (watch.stopping)
                return;
            continue;
        }
        watch.on_interrupt();
        std::signal(signal_number, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal_number);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal_number);
        _exit(128 + signal_number);
    }
}

} // namespace

// The signals are blocked in every thread (the threads made later inherit
// the mask) and taken by sigwait on the watcher's own thread.
interrupt_watch::interrupt_watch(std::function<void()> on_interrupt) : state_(std::make_unique<state>())
{
    state_->on_interrupt = std::move(on_interrupt);
    const sigset_t set = watched_signals();
    pthread_sigmask(SIG_BLOCK, &set, &state_->saved_mask);
    state_->watcher = std::thread(watch_signals, std::ref(*state_), set);
}

// The mask goes back to what it was: a signal the caller had blocked stays
// blocked.
interrupt_watch::~interrupt_watch()
{
    state_->stopping = true;
    pthread_kill(state_->watcher.native_handle(), SIGUSR1);
    state_->watcher.join();
    pthread_sigmask(SIG_SETMASK, &state_->saved_mask, nullptr);
}

void wait_for_key() {}

folder_lock::~folder_lock()
{
    if (fd_ >= 0)
        close(fd_);   // the lock goes with the last descriptor of it
}

folder_lock lock_folder(const char* dir, const char*)
{
    folder_lock lock;
    // O_NOFOLLOW: a folder that a link took the place of is not locked.
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return lock;
    // The interrupts are taken by interrupt_watch's thread, so the wait ends
    // only in the lock or in the process's end; EINTR is for other signals.
    int locked = 0;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        close(fd);   // a file system without flock (some network ones): no lock
        return lock;
    }
    lock.fd_ = fd;
    return lock;
}

folder_lock::folder_lock(folder_lock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

folder_lock& folder_lock::operator=(folder_lock&& other) noexcept
{
    std::swap(fd_, other.fd_);
    return *this;
}

bool folder_lock::held() const { return fd_ >= 0; }
