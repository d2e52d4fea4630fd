// Only one copy of the program uses a settings file at a time: the first takes an exclusive
// lock on a file beside it, and the system drops the lock when the process ends.
#pragma once

#include <string>

namespace vexil {

class SingleInstanceLock {
public:
    enum class Result { kTaken, kHeldElsewhere, kUnavailable };

    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Creates the lock file's folder and the file if needed. kUnavailable (with the reason)
    // when the file cannot be made, which leaves the program free to run.
    Result Take(const std::string& lockPath, std::string* error);
    void Drop();

private:
    int fd_ = -1;
};

// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace vexil
