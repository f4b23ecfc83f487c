#include "inherited_state.h"

#include <algorithm>
#include <array>
#include <csignal>

#include <linux/ioprio.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

struct LimitReset {
    int resource;
    rlim_t soft;
};
constexpr std::array<LimitReset, 9> LimitResets = {{{RLIMIT_FSIZE, RLIM_INFINITY},
                                                    {RLIMIT_CPU, RLIM_INFINITY},
                                                    {RLIMIT_DATA, RLIM_INFINITY},
                                                    {RLIMIT_AS, RLIM_INFINITY},
                                                    {RLIMIT_RSS, RLIM_INFINITY},
                                                    {RLIMIT_NPROC, RLIM_INFINITY},
                                                    {RLIMIT_STACK, 8 * 1024 * 1024},
                                                    {RLIMIT_NOFILE, 1024},
                                                    {RLIMIT_CORE, 0}}};

// The kernel's own timer slack for a process nobody has tuned. Resetting with
// PR_SET_TIMERSLACK 0 would only go back to the value inherited at fork, the
// caller's; a large one would stretch every sleep, those under the lock too.
constexpr unsigned long DefaultTimerSlackNs = 50'000;

// The limits the caller set must neither make the helper die half-way (a file
// size limit while writing odbc.ini) nor fail in ways the caller could steer.
void ResetResourceLimits() {
    for (const LimitReset& reset : LimitResets) {
        rlimit limit{};
        if (getrlimit(reset.resource, &limit) != 0) {
            continue;
        }
        limit.rlim_cur = reset.soft;
        if (limit.rlim_max != RLIM_INFINITY && (reset.soft == RLIM_INFINITY || limit.rlim_max < reset.soft)) {
            limit.rlim_max = reset.soft; // root may raise it; anyone else keeps what they have
        }
        if (setrlimit(reset.resource, &limit) != 0 && limit.rlim_max != RLIM_INFINITY) {
            // Not root (a test run): keep the soft limit within the hard one.
            getrlimit(reset.resource, &limit);
            limit.rlim_cur = reset.soft == RLIM_INFINITY ? limit.rlim_max : std::min(reset.soft, limit.rlim_max);
            setrlimit(reset.resource, &limit);
        }
    }
}

// Dispositions first, then the mask: a signal the caller left pending behind
// its mask is delivered only once its action is the default (or ignored).
void ResetSignals() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        // SIGKILL, SIGSTOP and the C library's own signals refuse; they
        // cannot have been changed by the caller either.
        sigaction(signal, &action, nullptr);
    }
    action.sa_handler = SIG_IGN;
    for (const int signal : {SIGPIPE, SIGXFSZ, SIGTSTP, SIGTTIN, SIGTTOU}) {
        sigaction(signal, &action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    // Interval timers survive the exec as well; the alarm replaces the real
    // one, the other two must not end the helper at a moment of the caller's.
    const itimerval off{};
    setitimer(ITIMER_VIRTUAL, &off, nullptr);
    setitimer(ITIMER_PROF, &off, nullptr);
}

// The ordinary policy at nice 0, the ordinary I/O class, every CPU the system
// has (the kernel keeps only those the helper's cpuset allows).
void ResetScheduling() {
    const sched_param param{};
    sched_setscheduler(0, SCHED_OTHER, &param);
    setpriority(PRIO_PROCESS, 0, 0);
    syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_BE, 4));

    const long configured = sysconf(_SC_NPROCESSORS_CONF);
    const int cpus = static_cast<int>(std::max<long>(configured, CPU_SETSIZE));
    if (cpu_set_t* all = CPU_ALLOC(cpus); all != nullptr) {
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, all);
        for (int cpu = 0; cpu < cpus; ++cpu) {
            CPU_SET_S(cpu, size, all);
        }
        sched_setaffinity(0, size, all);
        CPU_FREE(all);
    }
    prctl(PR_SET_TIMERSLACK, DefaultTimerSlackNs, 0, 0, 0);
}

} // namespace

void ResetInheritedState() {
    ResetSignals();
    ResetResourceLimits();
    ResetScheduling();
}
