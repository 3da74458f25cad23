// The thread team of the fills.
#include "fill/team.h"

#include <algorithm>
#include <system_error>

namespace quob {

TThreadTeam::TThreadTeam(int32_t members, Work work) : work_(std::move(work)) {
    threads_.reserve(static_cast<std::size_t>(std::max(members, 1)));
    std::lock_guard lock(mutex_);  // a member that ends at once waits until running_ counts it
    for (int32_t m = 0; m < members; ++m) {
        try {
            threads_.emplace_back([this, m] {
                work_(*this, m);
                Finish();
            });
        } catch (const std::system_error &) {
            if (threads_.empty()) throw;
            break;
        }
        ++running_;
    }
    members_ = running_;
}

void TThreadTeam::RunHere(const Work &work) {
    TThreadTeam team;
    team.members_ = 1;
    work(team, 0);
    team.finished_.store(true);
}

bool TThreadTeam::Pause() {
    std::unique_lock lock(mutex_);
    if (request_.load() == kSuspend) {
        ++parked_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return request_.load() != kSuspend; });
        --parked_;
    }
    return request_.load() == kRun;
}

void TThreadTeam::Finish() {
    std::lock_guard lock(mutex_);
    if (--running_ == 0) finished_.store(true, std::memory_order_release);
    changed_.notify_all();
}

bool TThreadTeam::Suspend() {
    std::unique_lock lock(mutex_);
    if (running_ == 0) return false;
    request_.store(kSuspend);
    changed_.wait(lock, [this] { return parked_ == running_; });
    return running_ > 0;
}

void TThreadTeam::Resume() {
    std::lock_guard lock(mutex_);
    request_.store(kRun);
    changed_.notify_all();
}

void TThreadTeam::RequestStop() {
    std::lock_guard lock(mutex_);
    request_.store(kStop);
    changed_.notify_all();
}

void TThreadTeam::Join() {
    for (std::thread &thread : threads_)
        if (thread.joinable()) thread.join();
}

void TThreadTeam::Stop() {
    RequestStop();
    Join();
}

}  // namespace quob
