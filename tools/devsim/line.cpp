#include "line.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace devsim {

namespace {

// When a byte arrives, those that follow within this much are taken with it, so that a
// line at 115200 baud costs about a thousand wake-ups a second, not one per byte. Their
// replies still go out at their exact times.
constexpr std::chrono::microseconds Lookahead{1000};

constexpr std::size_t MaxBatch = 256;

}  // namespace

TLine::TLine(int MasterFd, long ARate, TClock::time_point AStart)
    : Fd(MasterFd),
      Rate(ARate),
      Start(AStart),
      ByteTime(ARate > 0 ? std::chrono::nanoseconds(10'000'000'000LL / ARate)
                         : std::chrono::nanoseconds(0)),
      NextArrival(AStart),
      LastArrival(AStart),
      ReplyLineFree(AStart) {}

TClock::time_point TLine::At(double TimeMs) const {
    return Start + std::chrono::duration_cast<TClock::duration>(
                       std::chrono::duration<double, std::milli>(TimeMs));
}

double TLine::Ms(TClock::time_point Time) const {
    return std::chrono::duration<double, std::milli>(Time - Start).count();
}

bool TLine::WantsInput() const {
    return Rate <= 0 || Idle || NextArrival <= TClock::now();
}

std::chrono::nanoseconds TLine::WaitTime(std::chrono::nanoseconds Limit) const {
    const auto now = TClock::now();
    std::chrono::nanoseconds wait = Limit;
    if (!Replies.empty())
        wait = std::min<std::chrono::nanoseconds>(wait, Replies.front().Due - now);
    if (Rate > 0 && !Idle)
        wait = std::min<std::chrono::nanoseconds>(wait, NextArrival - now);
    return std::max(wait, std::chrono::nanoseconds(0));
}

bool TLine::Receive(std::vector<TReceived>& Bytes) {
    Bytes.clear();
    const auto now = TClock::now();
    std::size_t want = MaxBatch;
    if (Rate > 0) {
        // After a pause the first byte starts when the host wrote it, not before the last
        // one has arrived.
        if (Idle)
            NextArrival = std::max(now, LastArrival) + ByteTime;
        Idle = false;
        if (NextArrival > now)
            return true;
        want = std::min<std::size_t>(
            MaxBatch, static_cast<std::size_t>((now + Lookahead - NextArrival) / ByteTime) + 1);
    }
    std::uint8_t buf[MaxBatch];
    const ssize_t got = read(Fd, buf, want);
    if (got < 0 && errno != EINTR && errno != EAGAIN)
        return false;
    const double nowMs = Ms(now);
    for (ssize_t i = 0; i < got; ++i) {
        if (Rate > 0) {
            Bytes.push_back({buf[i], Ms(NextArrival)});
            LastArrival = NextArrival;
            NextArrival += ByteTime;
        } else {
            Bytes.push_back({buf[i], nowMs});
        }
    }
    // A terminal found emptier than the line could deliver means the host has paused.
    Idle = got < static_cast<ssize_t>(want);
    return true;
}

bool TLine::ReceiveRest(std::vector<TReceived>& Bytes) {
    Bytes.clear();
    std::uint8_t buf[MaxBatch];
    const ssize_t got = read(Fd, buf, sizeof buf);
    if (got < 0)
        return errno == EAGAIN;
    const double nowMs = Ms(TClock::now());
    for (ssize_t i = 0; i < got; ++i)
        Bytes.push_back({buf[i], nowMs});
    return true;
}

void TLine::Send(const TBytes& Bytes) {
    if (Rate <= 0) {
        Write(Bytes);
        return;
    }
    ReplyLineFree = std::max(ReplyLineFree, At(HandlingMs)) +
                    ByteTime * static_cast<std::int64_t>(Bytes.size());
    Replies.push_back({ReplyLineFree, Bytes});
    SendDue();
}

void TLine::SendDue() {
    const auto now = TClock::now();
    while (!Replies.empty() && Replies.front().Due <= now) {
        Write(Replies.front().Bytes);
        Replies.pop_front();
    }
}

void TLine::Write(const TBytes& Bytes) {
    std::size_t done = 0;
    int stalls = 0;
    while (done < Bytes.size()) {
        const ssize_t n = write(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A host that stopped reading for a second loses the rest, as on a line.
            if (errno == EAGAIN && ++stalls <= 10) {
                pollfd p{Fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return;  // nobody listens: a real line loses the bytes as well
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace devsim
