#include "ble/bluez/bus_session.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>
#include <time.h>

#include "ble/bluez/bluez_error.h"
#include "ble/bluez/bluez_names.h"

namespace ble::bluez {

BusSession::BusSession(sdbus::Bus bus) : bus_(std::move(bus)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

BusSession::~BusSession() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void BusSession::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

bool BusSession::Post(std::function<void()> task) {
  if (!posted_.Push(std::move(task))) return false;
  Wake();
  return true;
}

void BusSession::RequestStop() {
  stopRequested_.store(true);
  Wake();
}

void BusSession::RunPosted() {
  posted_.RunAll();
}

void BusSession::Run() {
  loopThread_.store(std::this_thread::get_id());
  // Named, so a profile or a load run can find it among the host's threads.
  pthread_setname_np(pthread_self(), "vk5-bluez");
  Start();
  while (!stopRequested_.load()) {
    RunPosted();
    while (RunDueTimers()) {
    }
    if (stopRequested_.load()) break;
    if (!lost_.load()) {
      for (;;) {
        const int r = sd_bus_process(bus_.get(), nullptr);
        if (r < 0) {
          OnBusLost();
          break;
        }
        if (r == 0 || stopRequested_.load()) break;
      }
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    if (!lost_.load()) {
      const int events = sd_bus_get_events(bus_.get());
      if (events >= 0) {
        fds[1] = {sd_bus_get_fd(bus_.get()), static_cast<short>(events), 0};
        count = 2;
      }
    }
    if (poll(fds, count, PollTimeoutMs()) > 0 && (fds[0].revents & POLLIN)) {
      std::uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof value);
    }
  }
  Teardown();
  finished_.store(true);
}

int BusSession::PollTimeoutMs() const {
  long long ms = -1;
  const auto now = std::chrono::steady_clock::now();
  for (const auto &[id, timer] : timers_) {
    const long long left = std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count();
    ms = ms < 0 ? std::max(0LL, left) : std::min(ms, std::max(0LL, left));
  }
  std::uint64_t busTimeout = 0;
  if (!lost_.load() && sd_bus_get_timeout(bus_.get(), &busTimeout) > 0 && busTimeout != UINT64_MAX) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto nowUsec =
        static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
    const auto left = busTimeout > nowUsec ? static_cast<long long>((busTimeout - nowUsec + 999) / 1000) : 0LL;
    ms = ms < 0 ? left : std::min(ms, left);
  }
  return ms < 0 ? -1 : static_cast<int>(std::min<long long>(ms, INT_MAX));
}

bool BusSession::RunDueTimers() {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.due <= now) {
      auto fn = std::move(it->second.fn);
      timers_.erase(it);
      fn();
      return true;
    }
  }
  return false;
}

void BusSession::Start() {
  if (tracker_.Watch(bus_.get()) < 0) OnBusLost();
  // Sent after the matches, so no change falls between the snapshot and the signals.
  tracker_.Refresh([](HRESULT) {});
}

void BusSession::Teardown() {
  // Work handed over before the stop (a last Disconnect) still goes out.
  while (!posted_.TryClose()) RunPosted();
  stopping_ = true;
  AnswerAllCalls(kErrorCancelled);
  tracker_.events().CancelWaiters(kErrorCancelled);
  timers_.clear();
  tracker_.Unwatch();
  bus_.reset();
}

void BusSession::OnBusLost() {
  if (lost_.exchange(true)) return;
  AnswerAllCalls(kErrorNoBus);
  tracker_.Forget();
}

void BusSession::AnswerAllCalls(HRESULT code) {
  auto calls = std::move(calls_);
  for (auto &[id, call] : calls) {
    auto onReply = std::move(call->onReply);
    call.reset();
    onReply(CallOutcome{nullptr, code, {}});
  }
}

std::uint64_t BusSession::Call(const std::string &path, const char *interface, const char *member,
                               const Appender &append, std::uint64_t timeoutUsec, ReplyHandler onReply) {
  if (stopping_ || lost_.load()) {
    onReply(CallOutcome{nullptr, stopping_ ? kErrorCancelled : kErrorNoBus, {}});
    return 0;
  }
  sdbus::Message message;
  int r = sd_bus_message_new_method_call(bus_.get(), message.out(), kBluezName, path.c_str(), interface, member);
  if (r >= 0 && append) r = append(message.get());
  auto call = std::make_unique<PendingCall>();
  call->session = this;
  call->id = ++nextId_;
  call->onReply = std::move(onReply);
  if (r >= 0) r = sd_bus_call_async(bus_.get(), call->slot.out(), message.get(), &OnReply, call.get(), timeoutUsec);
  if (r < 0) {
    call->onReply(CallOutcome{nullptr, HresultFromErrno(r), {}});
    return 0;
  }
  const std::uint64_t id = call->id;
  calls_.emplace(id, std::move(call));
  return id;
}

void BusSession::CancelCall(std::uint64_t id) {
  calls_.erase(id);
}

int BusSession::OnReply(sd_bus_message *reply, void *userdata, sd_bus_error *) {
  auto *call = static_cast<PendingCall *>(userdata);
  BusSession *self = call->session;
  auto node = self->calls_.extract(call->id);
  if (node.empty()) return 0;
  CallOutcome outcome;
  if (const sd_bus_error *error = sd_bus_message_get_error(reply)) {
    outcome.errorName = error->name ? error->name : "";
    // sd-bus answers pending calls itself when the connection closes.
    outcome.code = sd_bus_is_open(self->bus_.get()) > 0 ? HresultFromBusError(outcome.errorName) : kErrorNoBus;
  } else {
    outcome.reply = reply;
  }
  auto onReply = std::move(node.mapped()->onReply);
  onReply(outcome);
  return 0;
}

std::uint64_t BusSession::AddTimer(std::chrono::milliseconds delay, std::function<void()> fn) {
  const std::uint64_t id = ++nextId_;
  timers_.emplace(id, Timer{std::chrono::steady_clock::now() + delay, std::move(fn)});
  return id;
}

void BusSession::CancelTimer(std::uint64_t id) {
  timers_.erase(id);
}

void BusSession::Disconnect(const std::string &devicePath) {
  objects().DisconnectSent(devicePath);
  // Answered NotConnected when the link is already down: settled all the same.
  Call(devicePath, kDevice1, "Disconnect", nullptr, kShortCallUsec,
       [this, devicePath](const CallOutcome &) { events().DisconnectAnswered(devicePath); });
}

} // namespace ble::bluez
