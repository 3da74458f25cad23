// The one way a fill runs on every core: a team of threads that take units of work (rows, bands
// of rows, chunks of samples) in order from a shared counter, honour stop, suspend and resume
// between two samples, and are joined when the team ends. No thread is ever killed.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quob {

class TThreadTeam {
  public:
    // What every member runs, in its own thread: the team and the member's number.
    using Work = std::function<void(TThreadTeam &team, int32_t member)>;

    // Starts `members` threads. Members whose thread cannot be started are left out (the others
    // share the units); throws std::system_error when not even the first one starts.
    TThreadTeam(int32_t members, Work work);
    // Stops and joins.
    ~TThreadTeam() { Stop(); }
    TThreadTeam(const TThreadTeam &) = delete;
    TThreadTeam &operator=(const TThreadTeam &) = delete;

    // Runs one member's work in the caller's thread, as a team of one, and returns when it ends.
    static void RunHere(const Work &work);

    // The next unit of work: 0, 1, 2, ... across all members.
    int64_t Take() { return next_.fetch_add(1, std::memory_order_relaxed); }
    // Called by a member between two samples: false means stop now. A suspended member waits
    // here until it is resumed or stopped.
    bool Proceed() { return request_.load(std::memory_order_relaxed) == kRun || Pause(); }

    // Returns once every member waits between two samples or has ended; false when all have
    // ended.
    bool Suspend();
    void Resume();
    // Asks every member to stop, without waiting; any thread may call it.
    void RequestStop();
    // Returns once every member has ended its work.
    void Join();
    // Asks every member to stop and joins: nothing is computed after this.
    void Stop();
    // True once every member has ended.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    int32_t Members() const { return members_; }

  private:
    enum Request : int { kRun, kSuspend, kStop };
    TThreadTeam() = default;
    bool Pause();
    void Finish();

    std::atomic<int> request_{kRun};
    std::atomic<bool> finished_{false};
    std::atomic<int64_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    int32_t members_ = 0;
    int32_t running_ = 0;  // members that have not ended
    int32_t parked_ = 0;   // members waiting in Pause
    Work work_;
    std::vector<std::thread> threads_;
};

}  // namespace quob
