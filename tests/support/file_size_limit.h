// Makes writes fail part-way, the way a full disk or a pulled USB stick does, for root too:
// while it lives, no file of this process can grow past `bytes` (further writes fail with EFBIG).
#pragma once

#include <csignal>
#include <cstddef>

#include <sys/resource.h>

class file_size_limit {
public:
    explicit file_size_limit(size_t bytes) {
        old_signal_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not the end of the process
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~file_size_limit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_signal_);
    }
    file_size_limit(const file_size_limit&) = delete;
    file_size_limit& operator=(const file_size_limit&) = delete;

private:
    rlimit old_{};
    void (*old_signal_)(int) = nullptr;
};
