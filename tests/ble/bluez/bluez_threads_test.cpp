// Bus connections and their loop threads under concurrent use: one shared
// connection per adapter, and every loop thread joined once its connection
// ends, even when it ended on that very thread.
#include <dirent.h>

#include <atomic>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ble/bluez/bluez_adapter.h"
#include "ble/bluez/bus_connection.h"
#include "support/blocking_wait.h"
#include "tests/ble/bluez/bus_fixture.h"

namespace {

using namespace bluez_test;
using namespace ble;
using ble::bluez::BluezAdapter;
using ble::bluez::BusConnection;

int ThreadCount() {
  int count = 0;
  if (DIR *dir = opendir("/proc/self/task")) {
    while (const dirent *entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

// The simulated BlueZ names the bus client of each discovery it starts.
std::set<std::string> DiscoveryClients(Process &sim) {
  std::set<std::string> clients;
  std::istringstream lines(sim.Output());
  const std::string mark = "discovery started by ";
  for (std::string line; std::getline(lines, line);) {
    if (const auto at = line.find(mark); at != std::string::npos) clients.insert(line.substr(at + mark.size()));
  }
  return clients;
}

TEST(BluezThreads, ConcurrentFirstUsesShareOneConnection) {
  PistolOnBus on;
  constexpr int kCallers = 6;
  std::vector<std::shared_ptr<BluetoothLEAdvertisementWatcher>> watchers(kCallers);
  std::atomic<int> ready{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kCallers) std::this_thread::yield();
      watchers[i] = on.adapter.CreateWatcher();
      watchers[i]->Start();
    });
  }
  for (auto &caller : callers) caller.join();
  ASSERT_TRUE(on.sim->WaitForLine("discovery started by "));
  // Lines of a second connection, had there been one, come before its reply.
  std::this_thread::sleep_for(200ms);
  // Every watcher runs on the one connection that won; the others were dropped.
  EXPECT_EQ(DiscoveryClients(*on.sim).size(), 1u) << on.sim->Output();
}

TEST(BluezThreads, ConnectionsOpenedAndDroppedOnManyThreadsLeaveNoThreadBehind) {
  PrivateBus bus;
  const int before = ThreadCount();
  std::vector<std::thread> users;
  for (int t = 0; t < 4; ++t) {
    users.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        auto connection = BusConnection::Open(bus.address());
        EXPECT_TRUE(connection->session().Post([] {}));
      }
    });
  }
  for (auto &user : users) user.join();
  EXPECT_EQ(ThreadCount(), before);
}

TEST(BluezThreads, AConnectionEndingOnItsOwnLoopThreadIsJoinedByTheNextOpen) {
  PrivateBus bus;
  const int before = ThreadCount();
  auto connection = BusConnection::Open(bus.address());
  std::weak_ptr<ble::bluez::BusSession> session = connection->weak();
  BusConnection *raw = connection.get();
  // The task holds the last handle, so the connection ends on its loop thread.
  ASSERT_TRUE(raw->session().Post([last = std::move(connection)]() mutable { last.reset(); }));
  ASSERT_TRUE(Eventually([&] {
    auto strong = session.lock();
    return strong && strong->Finished();
  }));
  EXPECT_FALSE(session.expired());
  auto next = BusConnection::Open(bus.address());
  // Opening joined the ended thread and let go of its session.
  EXPECT_TRUE(session.expired());
  next.reset();
  EXPECT_EQ(ThreadCount(), before);
}

} // namespace
