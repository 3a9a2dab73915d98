#include "database/outbox.h"

#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "database/push.h"
#include "database/schema.h"
#include "records/failures.h"

namespace obrint::database {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kSendBatch = 500;  // records per transaction
constexpr std::chrono::milliseconds kFirstPause = 500ms, kLongestPause = 30s;

struct Waiting {
  std::string id, usbPort, line;
};

class LogOutbox : public Outbox {
 public:
  LogOutbox(records::LogFile& log, std::string conninfo)
      : log_(log), conninfo_(std::move(conninfo)), sender_([this] { Send(); }) {}
  ~LogOutbox() override { Close(0ms); }

  Status Keep(const records::RunSetting& setting, const records::HeadsetRecord& record) override {
    if (const Status kept = log_.Keep(setting, record); !kept) return kept;
    {
      const std::lock_guard lock(mutex_);
      waiting_.push_back({record.id, record.usbPort, records::RecordJson(setting, record).dump()});
    }
    wake_.notify_all();
    return {};
  }
  std::string failure() const override { return log_.failure(); }

  void Tell(OutboxListener* listener) override {
    const std::lock_guard lock(telling_);
    listener_ = listener;
    if (listener_) listener_->LinkChanged(told_);
  }

  Link Close(std::chrono::milliseconds grace) override {
    {
      std::unique_lock lock(mutex_);
      if (!closeBy_) closeBy_ = SteadyClock::now() + grace;
      wake_.notify_all();
      // A database that has not answered by then is cut off: the sender's wait for it ends.
      if (!ended_.wait_until(lock, *closeBy_, [this] { return finished_; }) && socket_ >= 0) {
        ::shutdown(socket_, SHUT_RDWR);
      }
    }
    if (sender_.joinable()) sender_.join();
    const std::lock_guard telling(telling_);
    return told_;
  }

 private:
  // Under the lock: whether closing finds nothing left to send, or no time left to send it.
  bool Done() const { return closeBy_ && (waiting_.empty() || SteadyClock::now() >= *closeBy_); }

  // The sender's thread: connects, sends what waits a batch at a time, after a failure pauses
  // (longer each time) and connects again. A batch leaves the queue once the database answered.
  void Send() {
    std::optional<Connection> db;
    std::string away;
    auto pause = kFirstPause;
    std::unique_lock lock(mutex_);
    while (!Done()) {
      if (db) {
        wake_.wait(lock, [this] { return !waiting_.empty() || closeBy_; });
        if (Done()) break;
      }
      const std::vector<Waiting> batch(waiting_.begin(),
                                       waiting_.begin() + std::min(kSendBatch, waiting_.size()));
      Told({db.has_value(), away, waiting_.size(), refused_}, lock);
      const bool wasConnected = db.has_value();
      away = Attempt(db, batch, lock);
      Told({db.has_value(), away, waiting_.size(), refused_}, lock);
      // A connection lost since its last use (the server restarted, say) is made again at once.
      if (away.empty() || wasConnected) {
        pause = kFirstPause;
        continue;
      }
      if (closeBy_) break;  // its last try failed
      wake_.wait_for(lock, pause, [this] { return closeBy_.has_value(); });
      pause = std::min(pause * 2, kLongestPause);
    }
    Told({db.has_value(), away, waiting_.size(), refused_}, lock);
    finished_ = true;
    ended_.notify_all();
  }

  // Connects if need be and sends `batch`, taken off the queue once stored or refused; else why
  // not, the connection dropped. Under the lock, which it lets go while it waits for the database.
  std::string Attempt(std::optional<Connection>& db, const std::vector<Waiting>& batch,
                      std::unique_lock<std::mutex>& lock) {
    std::string why;
    if (!db) {
      lock.unlock();
      std::string detail;
      Result<Connection> opened = Connect(conninfo_, detail);
      lock.lock();
      if (!opened) return records::Message(opened.failure(), detail);
      db.emplace(std::move(*opened));
      socket_ = db->socket();
      lock.unlock();
      if (const Status schema = CheckSchema(*db); !schema) {
        why = records::Message(schema.failure(), db->detail());
      }
    } else {
      lock.unlock();
    }
    std::size_t refused = 0;
    if (why.empty() && !batch.empty()) {
      std::vector<std::string> lines;
      for (const Waiting& record : batch) lines.push_back(record.line);
      const Result<PushCounts> pushed = Push(*db, lines);
      if (!pushed) why = records::Message(pushed.failure(), db->detail());
      for (const Refusal& refusal : pushed ? pushed->refused : std::vector<Refusal>{}) {
        const Waiting& record = batch[refusal.index];
        const std::lock_guard telling(telling_);
        if (listener_) listener_->Refused(record.id, record.usbPort, refusal.why);
        ++refused;
      }
    }
    lock.lock();
    if (!why.empty()) {
      socket_ = -1;  // Close cuts it off no more: it is closed now, and its number free
      db.reset();
      return why;
    }
    waiting_.erase(waiting_.begin(), waiting_.begin() + batch.size());
    refused_ += refused;
    return why;
  }

  // Tells the listener where the database stands, when that changed; the lock is let go meanwhile.
  void Told(const Link& link, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    {
      const std::lock_guard telling(telling_);
      if (listener_ && link != told_) listener_->LinkChanged(link);
      told_ = link;
    }
    lock.lock();
  }

  records::LogFile& log_;
  const std::string conninfo_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  std::deque<Waiting> waiting_;
  std::size_t refused_ = 0;
  std::optional<SteadyClock::time_point> closeBy_;
  int socket_ = -1;  // the connection's, while there is one
  bool finished_ = false;
  std::condition_variable ended_;  // the sender finished
  std::mutex telling_;             // guards what follows, and the calls to the listener
  OutboxListener* listener_ = nullptr;
  Link told_;
  std::thread sender_;  // last: it starts once the rest is made
};

}  // namespace

Result<std::unique_ptr<Outbox>> OpenOutbox(records::LogFile& log, const std::string& conninfo,
                                           std::string& detail) {
  if (const Status read = ReadConnInfo(conninfo, detail); !read) return read.failure();
  return std::unique_ptr<Outbox>(std::make_unique<LogOutbox>(log, conninfo));
}

}  // namespace obrint::database
