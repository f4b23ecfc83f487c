#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// The user pkexec ran the helper for: PKEXEC_UID, with the group and the
// supplementary groups of that user's account entry.
struct Caller {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

// Fills `caller` when the helper runs as root with PKEXEC_UID set, leaves it
// empty otherwise (then its caller is who it runs as). Returns what is wrong,
// or nothing.
std::optional<std::string> FindCaller(std::optional<Caller>& caller);

// Makes `directory` the helper's current directory as the caller would reach
// it, so that the setup library completes a relative DBQ with it. Returns
// what went wrong, or nothing.
//
// Root must resolve nothing for the caller: a process of the caller's, with
// the caller's user, groups and no capability, enters the directory and reads
// its path back. Only that text (with the directory's device and inode)
// returns to the helper, which then enters the path refusing any symbolic
// link on the way and checks it arrived at that very directory. A refusal is
// the caller's own error, telling no more than the caller could find out alone.
std::optional<std::string> EnterDirectoryAs(const std::optional<Caller>& caller, const std::string& directory);
