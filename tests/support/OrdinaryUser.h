#pragma once

#include <sys/fsuid.h>
#include <sys/types.h>
#include <unistd.h>

// While it lives, this thread's file accesses are checked as an ordinary user's (nobody), so
// that a file or directory without write permission refuses writes even when the tests run as
// root. Nothing changes for a test run by an ordinary user.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() : previous_(geteuid() == 0 ? setfsuid(65534) : -1) {}
    ~AsOrdinaryUser() {
        if (previous_ >= 0)
            setfsuid(static_cast<uid_t>(previous_));
    }
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

private:
    int previous_;
};
