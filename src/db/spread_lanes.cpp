#include <atomic>
#include <thread>

#include "db/db_driver.h"

void RunSpreadLanes(const std::vector<DbConnection *> &connections, std::vector<DbSpreadLane> &lanes) {
  std::atomic<size_t> next{0};
  auto work = [&next, &lanes](DbConnection *conn) {
    for (size_t lane = next++; lane < lanes.size(); lane = next++)
      for (DbSpreadQuery &query : lanes[lane]) {
        query.sent = true;
        query.ok = conn->execute(query.text.c_str(), query.error);
        if (query.ok) continue;
        query.errorCode = conn->failureCode();
        if (query.endsLane) break;
      }
  };
  std::vector<std::thread> threads;
  for (size_t n = 1; n < connections.size(); n++) threads.emplace_back(work, connections[n]);
  if (!connections.empty()) work(connections[0]);
  for (std::thread &thread : threads) thread.join();
}
