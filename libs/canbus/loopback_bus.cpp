#include "canbus/loopback_bus.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace canbus {

// One endpoint's receive queue. It is guarded by the bus mutex.
struct LoopbackChannel::Queue {
  std::deque<Frame> frames;
  std::size_t capacity = 0;
  std::size_t dropped = 0;
  int eventFd = -1;
};

class LoopbackBus {
 public:
  explicit LoopbackBus(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  void attach(LoopbackChannel::Queue* queue) {
    const std::lock_guard lock(mutex_);
    queues_.push_back(queue);
  }

  void detach(LoopbackChannel::Queue* queue) {
    const std::lock_guard lock(mutex_);
    queues_.erase(std::remove(queues_.begin(), queues_.end(), queue), queues_.end());
  }

  void deliver(const LoopbackChannel::Queue* sender, const Frame& frame) {
    const std::lock_guard lock(mutex_);
    for (LoopbackChannel::Queue* queue : queues_) {
      if (queue == sender) continue;
      if (queue->frames.size() >= queue->capacity) {
        queue->frames.pop_front();
        ++queue->dropped;
      }
      queue->frames.push_back(frame);
      if (queue->frames.size() == 1) notify(queue->eventFd);
    }
  }

  std::optional<Frame> take(LoopbackChannel::Queue* queue) {
    const std::lock_guard lock(mutex_);
    if (queue->frames.empty()) return std::nullopt;
    const Frame frame = queue->frames.front();
    queue->frames.pop_front();
    if (queue->frames.empty()) drain(queue->eventFd);
    return frame;
  }

  std::size_t dropped(const LoopbackChannel::Queue* queue) const {
    const std::lock_guard lock(mutex_);
    return queue->dropped;
  }

  std::size_t pending(const LoopbackChannel::Queue* queue) const {
    const std::lock_guard lock(mutex_);
    return queue->frames.size();
  }

 private:
  // The eventfd is readable exactly while the queue is not empty.
  static void notify(int fd) {
    if (fd < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
  }
  static void drain(int fd) {
    if (fd < 0) return;
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
  }

  const std::string name_;
  mutable std::mutex mutex_;
  std::vector<LoopbackChannel::Queue*> queues_;
};

namespace {

// Buses by name. A bus is kept only while endpoints hold it.
std::mutex registryMutex;
std::map<std::string, std::weak_ptr<LoopbackBus>, std::less<>>& registry() {
  static std::map<std::string, std::weak_ptr<LoopbackBus>, std::less<>> buses;
  return buses;
}

std::shared_ptr<LoopbackBus> busNamed(std::string_view name) {
  const std::lock_guard lock(registryMutex);
  auto& buses = registry();
  // Forget buses whose endpoints are all gone, so the map does not grow without bound.
  std::erase_if(buses, [](const auto& entry) { return entry.second.expired(); });
  auto it = buses.find(name);
  if (it != buses.end()) {
    if (std::shared_ptr<LoopbackBus> bus = it->second.lock()) return bus;
  }
  auto bus = std::make_shared<LoopbackBus>(std::string(name));
  buses[std::string(name)] = bus;
  return bus;
}

}  // namespace

LoopbackChannel::LoopbackChannel(std::shared_ptr<LoopbackBus> bus, std::size_t capacity)
    : bus_(std::move(bus)), queue_(std::make_unique<Queue>()) {
  eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  queue_->capacity = std::max<std::size_t>(capacity, 1);
  queue_->eventFd = eventFd_;
  bus_->attach(queue_.get());
}

LoopbackChannel::~LoopbackChannel() {
  bus_->detach(queue_.get());
  if (eventFd_ >= 0) ::close(eventFd_);
}

std::optional<Frame> LoopbackChannel::receive() { return bus_->take(queue_.get()); }

std::optional<Error> LoopbackChannel::send(const Frame& frame) {
  if (!isValid(frame)) {
    return Error{ErrorKind::sendFailed, "Frame " + toCandump(frame) +
                                            " is not a valid CAN frame; loopback bus " +
                                            bus_->name() + " did not send it."};
  }
  Frame copy = frame;
  if (copy.remote) copy.data = {};  // remote frames carry no data bytes
  bus_->deliver(queue_.get(), copy);
  return std::nullopt;
}

std::string LoopbackChannel::name() const { return bus_->name(); }

std::size_t LoopbackChannel::droppedFrames() const { return bus_->dropped(queue_.get()); }

std::size_t LoopbackChannel::pendingFrames() const { return bus_->pending(queue_.get()); }

std::unique_ptr<LoopbackChannel> openLoopback(std::string_view name, std::size_t capacity) {
  return std::make_unique<LoopbackChannel>(busNamed(name), capacity);
}

}  // namespace canbus
