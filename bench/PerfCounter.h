// The processor's count of instructions retired by this thread in user space (Linux perf events).
// Unlike time, it hardly moves with the load of a shared machine. Where the kernel or the machine
// offers no such counter (a virtual machine without one, perf_event_paranoid above 2), Available()
// is false and Why() says so.
#pragma once

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace bench {

class TInstructionCounter {
public:
    TInstructionCounter() {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_HARDWARE;
        attr.size = sizeof attr;
        attr.config = PERF_COUNT_HW_INSTRUCTIONS;
        attr.disabled = 1;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        FFd = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
        if (FFd < 0)
            FWhy = std::string("perf_event_open: ") + std::strerror(errno);
        else
            ioctl(FFd, PERF_EVENT_IOC_ENABLE, 0);
    }
    ~TInstructionCounter() {
        if (FFd >= 0)
            close(FFd);
    }
    TInstructionCounter(const TInstructionCounter&) = delete;
    TInstructionCounter& operator=(const TInstructionCounter&) = delete;

    bool Available() const { return FFd >= 0; }
    const std::string& Why() const { return FWhy; }
    // Instructions so far (0 when not available).
    std::uint64_t Read() const {
        std::uint64_t value = 0;
        if (FFd < 0 || read(FFd, &value, sizeof value) != sizeof value)
            return 0;
        return value;
    }

private:
    int FFd = -1;
    std::string FWhy;
};

} // namespace bench
