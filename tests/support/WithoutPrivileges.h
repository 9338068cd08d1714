#pragma once
// Runs body on a thread whose effective capabilities are dropped, so that even root meets the
// permission bits (Linux keeps capabilities per thread; the raw capset changes the calling thread
// only). For other users nothing changes: the bits apply to them anyway.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

inline void WithoutPrivileges(const std::function<void()>& body) {
    std::thread worker([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
        caps[0].effective = caps[1].effective = 0;
        ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
        body();
    });
    worker.join();
}
