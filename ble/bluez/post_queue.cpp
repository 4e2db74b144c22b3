#include "ble/bluez/post_queue.h"

#include <memory>

namespace ble::bluez {

PostQueue::Node *PostQueue::ClosedMark() {
  // Never dereferenced: only its address is compared.
  static Node mark;
  return &mark;
}

void PostQueue::Free(Node *list) {
  while (list && list != ClosedMark()) {
    std::unique_ptr<Node> node(list);
    list = node->next;
  }
}

PostQueue::~PostQueue() {
  Free(head_.load(std::memory_order_acquire));
}

bool PostQueue::Push(std::function<void()> task) {
  auto node = std::make_unique<Node>();
  node->task = std::move(task);
  Node *head = head_.load(std::memory_order_relaxed);
  do {
    if (head == ClosedMark()) return false;
    node->next = head;
    // Release publishes the node to the consumer's acquire. Only the consumer
    // removes nodes and always the whole list, so a head seen again after
    // reuse of its address is still the true head: pushing is ABA-safe.
  } while (!head_.compare_exchange_weak(head, node.get(), std::memory_order_release, std::memory_order_relaxed));
  node.release();
  return true;
}

bool PostQueue::RunAll() {
  Node *list = head_.exchange(nullptr, std::memory_order_acquire);
  // The list is newest first.
  Node *ordered = nullptr;
  while (list) {
    Node *next = list->next;
    list->next = ordered;
    ordered = list;
    list = next;
  }
  const bool ran = ordered != nullptr;
  // The rest is freed even if a task throws.
  struct Rest {
    Node *&list;
    ~Rest() { Free(list); }
  } rest{ordered};
  while (ordered) {
    std::unique_ptr<Node> node(ordered);
    ordered = node->next;
    node->task();
  }
  return ran;
}

bool PostQueue::TryClose() {
  Node *expected = nullptr;
  return head_.compare_exchange_strong(expected, ClosedMark(), std::memory_order_acq_rel, std::memory_order_relaxed);
}

bool PostQueue::Closed() const {
  return head_.load(std::memory_order_acquire) == ClosedMark();
}

} // namespace ble::bluez
