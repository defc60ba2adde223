#pragma once
// One writer per settings directory. Two runs that share the directory would
// each write the pending downloads, the statistics and the log, and the one
// that writes last would drop what the other did: a run that writes takes
// this lock first, and a second one is told who holds it.

#include <string>

namespace platform {

class SettingsLock {
public:
    SettingsLock() = default;
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

    // Takes the lock file "wavbin.lock" in dir (created, with dir, when
    // missing). False when another process holds it, or when it cannot be
    // taken (a directory, a symbolic link or anything but a plain file of
    // that name, a file this user may not open); why() then says so, naming
    // the process or the cause. A directory that cannot be written is no
    // reason to refuse: the settings cannot be saved there anyway, and saving
    // says so.
    bool acquire(const std::string& dir);
    const std::string& why() const { return why_; }

private:
    int fd_ = -1;
    std::string why_;
};

} // namespace platform
