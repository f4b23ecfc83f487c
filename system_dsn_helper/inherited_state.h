#pragma once

// pkexec runs the helper in the process its caller started: resource limits,
// signal mask and dispositions, scheduling policy, nice value, I/O priority,
// CPU affinity, timer slack and interval timers all survive the exec. Any of
// them would let the caller kill the helper half-way, stop it, or starve it
// while it holds the lock on odbc.ini; this puts each back to what a process
// started by root would have.
//
// Afterwards SIGPIPE and SIGXFSZ are ignored (a write fails instead of killing
// the helper half-way), and so are SIGTSTP, SIGTTIN and SIGTTOU, so that
// nothing from the caller's terminal stops it. Every other signal has its
// default action and none is blocked: SIGALRM, so that the alarm ends the
// helper, and SIGCHLD, which ignored would have the kernel reap the helper's
// own child processes before it could learn how they ended.
void ResetInheritedState();
