#pragma once

// Root reads and writes past every permission; while a WithoutPermissionOverride
// lives, the calling thread gives up the capabilities that let it, so a test of
// a read-only or unsearchable place means the same as root as for a plain user
// (who has none to give up). Linux only.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sparkloom::test {

class WithoutPermissionOverride {
public:
    bool ok = false;
    WithoutPermissionOverride() {
        if (syscall(SYS_capget, &mHeader, mSaved) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {mSaved[0], mSaved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ok = syscall(SYS_capset, &mHeader, reduced) == 0;
    }
    ~WithoutPermissionOverride() {
        if (ok) {
            syscall(SYS_capset, &mHeader, mSaved);
        }
    }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
    __user_cap_header_struct mHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct mSaved[2]{};
};

}  // namespace sparkloom::test
