// A virtual instrument at the far end of a pseudo-terminal: a device node that the Linux
// backend opens and drives as it drives a hidraw node (a byte stream of whole reports), with the
// firmware model answering. For the link's tests and for the command line on a real node.
#pragma once

#include "instrument/firmware.h"
#include "link/command_frame.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The instrument's end of the pty: reads whole requests and answers them, with a few faults.
class PtyInstrument {
public:
    PtyInstrument() {
        char name[256];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        termios t;
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        path_ = name;
        thread_ = std::thread([this] { serve(); });
    }
    ~PtyInstrument() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    const std::string& path() const { return path_; }
    bool ok() const { return !path_.empty(); }

    void drop_next() { drop_.store(1); }
    // The next answer stops after its first `bytes` bytes, as from a device reset mid-report.
    void cut_next(int bytes) { cut_.store(bytes); }
    void delay_next(int ms) { delay_ms_.store(ms); }
    // Runs fn on the firmware model (between requests).
    template <typename Fn>
    void with_firmware(Fn fn) {
        std::lock_guard l(m_);
        fn(fw_);
    }
    std::vector<command_frame> requests() {
        std::lock_guard l(m_);
        return log_;
    }
    void hang_up() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(master_);
        master_ = -1;
    }

private:
    void serve() {
        std::vector<uint8_t> buf;
        struct answer {
            std::chrono::steady_clock::time_point at;
            command_frame frame;
            size_t bytes;
        };
        std::vector<answer> pending;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 2);
            if (p.revents & POLLIN) {
                uint8_t chunk[512];
                ssize_t n = ::read(master_, chunk, sizeof chunk);
                if (n > 0) buf.insert(buf.end(), chunk, chunk + n);
            }
            while (buf.size() >= FRAME_SIZE) {
                command_frame req, resp;
                std::memcpy(req.bytes, buf.data(), FRAME_SIZE);
                buf.erase(buf.begin(), buf.begin() + FRAME_SIZE);
                {
                    std::lock_guard l(m_);
                    log_.push_back(req);
                    fw_.handle(req, resp);
                }
                if (drop_.exchange(0)) continue;
                const int cut = cut_.exchange(0);
                pending.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms_.exchange(0)),
                                   resp, cut > 0 ? size_t(cut) : FRAME_SIZE});
            }
            for (auto it = pending.begin(); it != pending.end();) {
                if (it->at <= std::chrono::steady_clock::now()) {
                    ssize_t w = ::write(master_, it->frame.bytes, it->bytes);
                    (void)w;
                    it = pending.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }

    int master_ = -1, slave_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> drop_{0}, delay_ms_{0}, cut_{0};
    std::mutex m_;
    std::vector<command_frame> log_;
    sim_firmware fw_;
};

