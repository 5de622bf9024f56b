// Open when the system gives out: no descriptor or no thread left for what the
// port needs besides the device. Open must fail with the component's error and
// leave nothing behind, never succeed with a stop event that cannot be set (Close
// would then wait for ever). Each case runs in a child process, so a limit it
// lowers stays there and a hang ends it by alarm instead of stalling the suite.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "comport/com_port.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

using test::TPtyPair;

// The process's open descriptors, by number.
std::vector<int> Descriptors() {
    std::vector<int> fds;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            fds.push_back(std::atoi(entry->d_name));
        }
        ::closedir(dir);
    }
    return fds;
}

[[noreturn]] void Fail(const std::string& What) {
    std::fprintf(stderr, "%s\n", What.c_str());
    std::exit(1);
}

// Opens a port with events on Pty; true when it opened and closed again, false
// when Open refused with code 1 and left the port closed. Anything else: exit 1.
bool OpenAndClose(const TPtyPair& Pty) {
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.SetEvents({evRxChar, evTxEmpty});
    const std::size_t before = Descriptors().size();
    try {
        port.Open();
    } catch (const EComPortExt& e) {
        if (e.ErrorCode() != 1 || port.Connected() || port.DeviceHandle() != -1 ||
            port.EventThreadRunning() || Descriptors().size() != before) {
            Fail(std::string("refused open left state behind: ") + e.what());
        }
        return false;
    }
    if (!port.EventThreadRunning()) {
        Fail("opened without a running event thread");
    }
    port.Close();  // hangs with an unusable stop event: the alarm ends the child
    if (Descriptors().size() != before) {
        Fail("descriptors leaked");
    }
    return true;
}

// One more descriptor allowed per round: every step of Open in turn is the first
// to find none left.
[[noreturn]] void OpenWithFewDescriptors() {
    ::alarm(30);
    TPtyPair pty;
    // Once with descriptors to spare, and one refused open: the sanitizers read /proc
    // on their first look at a type, which they could not with none left.
    OpenAndClose(pty);
    try {
        TComPort missing;
        missing.SetPort("/dev/tarnwick-no-such-port");
        missing.Open();
    } catch (const EComPortExt&) {
    }
    int refused = 0;
    int opened = 0;
    // Fill the gaps below the highest descriptor, so the limit counts free ones.
    const std::vector<int> open = Descriptors();
    const int first = *std::max_element(open.begin(), open.end()) + 1;
    int fd = 0;
    while ((fd = ::open("/dev/null", O_RDONLY)) >= 0 && fd < first) {
    }
    ::close(fd);
    rlimit lowered{};
    ::getrlimit(RLIMIT_NOFILE, &lowered);
    for (int limit = first; limit < first + 16; ++limit) {
        lowered.rlim_cur = static_cast<rlim_t>(limit);
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0) {
            std::exit(2);
        }
        (OpenAndClose(pty) ? opened : refused) += 1;
    }
    std::fprintf(stderr, "refused %d, opened %d\n", refused, opened);
    std::exit(refused > 0 && opened > 0 ? 0 : 1);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARNWICK_SANITIZED 1
#else
// Address space for what is mapped now and a little more, but not for a thread's
// stack.
[[noreturn]] void OpenWithoutRoomForAThread() {
    ::alarm(30);
    TPtyPair pty;
    // No open before the limit: the C library would keep the thread's stack for reuse.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t bytes = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE)) + 2048 * 1024;
    const rlimit lowered{bytes, RLIM_INFINITY};
    if (pages == 0 || ::setrlimit(RLIMIT_AS, &lowered) != 0) {
        std::exit(2);
    }
    std::exit(OpenAndClose(pty) ? 1 : 0);
}
#endif

TEST(PortOpenFailure, NoDescriptorLeftFailsAtOpenAndLeaksNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OpenWithFewDescriptors(), testing::ExitedWithCode(0), "");
}

TEST(PortOpenFailure, NoThreadLeftFailsAtOpenAndLeaksNothing) {
#ifdef TARNWICK_SANITIZED
    GTEST_SKIP() << "a sanitizer reserves address space beyond any limit this test sets";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OpenWithoutRoomForAThread(), testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace tarnwick
