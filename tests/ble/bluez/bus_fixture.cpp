#include "tests/ble/bluez/bus_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char **environ;

namespace bluez_test {
namespace {

std::string FindProgram(const std::string &name) {
  if (name.find('/') != std::string::npos) return name;
  const char *path = getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

} // namespace

Process::Process(const std::vector<std::string> &argv, const std::vector<std::string> &env, Errors errors) {
  int inPipe[2];
  int outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> environment = env;
  for (char **e = environ; *e; ++e) environment.emplace_back(*e);
  std::vector<char *> envp;
  for (auto &e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string program = FindProgram(argv[0]);
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec. A child outlives no test,
    // even one that crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(inPipe[0], STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    if (errors == Errors::Discarded) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDERR_FILENO);
    }
    execve(program.c_str(), args.data(), envp.data());
    _exit(127);
  }
  pid_ = pid;
  const int r = pid < 0 ? errno : 0;
  close(inPipe[0]);
  close(outPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  if (r != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(r));
  reader_ = std::thread([this] {
    std::string pending;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(out_, buffer, sizeof buffer)) > 0) {
      pending.append(buffer, static_cast<std::size_t>(got));
      std::size_t newline = 0;
      std::lock_guard lock(mutex_);
      while ((newline = pending.find('\n')) != std::string::npos) {
        lines_.push_back(pending.substr(0, newline));
        pending.erase(0, newline + 1);
      }
      changed_.notify_all();
    }
  });
}

Process::~Process() {
  Kill();
  reader_.join();
  close(out_);
}

void Process::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void Process::Send(const std::string &line) {
  const std::string text = line + "\n";
  if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) throw std::runtime_error("write");
}

bool Process::WaitForLine(const std::string &text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const auto &line : lines_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  });
}

std::string Process::FindLine(const std::string &text) {
  std::lock_guard lock(mutex_);
  for (const auto &line : lines_) {
    if (line.find(text) != std::string::npos) return line;
  }
  return {};
}

int Process::CountLines(const std::string &text) {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto &line : lines_) count += line.find(text) != std::string::npos;
  return count;
}

std::string Process::Output() {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const auto &line : lines_) all += line + "\n";
  return all;
}

PrivateBus::PrivateBus() {
  char directory[] = "/tmp/vk5-bus-XXXXXX";
  if (!mkdtemp(directory)) throw std::runtime_error("mkdtemp");
  directory_ = directory;
  socket_ = directory_ + "/socket";
  address_ = "unix:path=" + socket_;
  Launch();
}

PrivateBus::~PrivateBus() {
  daemon_.reset();
  unlink(socket_.c_str());
  rmdir(directory_.c_str());
}

void PrivateBus::Restart() {
  daemon_.reset();
  Launch();
}

void PrivateBus::Launch() {
  unlink(socket_.c_str());
  daemon_ = std::make_unique<Process>(
      std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=" + address_},
      std::vector<std::string>{}, Process::Errors::Discarded);
  if (!daemon_->WaitForLine("unix:", 5s)) throw std::runtime_error("dbus-daemon did not start");
}

std::unique_ptr<Process> StartSimulator(const PrivateBus &bus, const std::vector<std::string> &arguments) {
  std::vector<std::string> argv = {VK5_PISTOL_SIM, "--bus", bus.address(), "--advertising-interval", "50"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  // The simulator's own leaks at a signal-driven exit are not what these tests look at.
  auto sim = std::make_unique<Process>(argv, std::vector<std::string>{"ASAN_OPTIONS=detect_leaks=0"});
  if (!sim->WaitForLine("ready:", 5s)) throw std::runtime_error("simulator did not start:\n" + sim->Output());
  return sim;
}

bool Eventually(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

} // namespace bluez_test
