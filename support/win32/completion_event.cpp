#include "support/completion_event.h"

#include "support/platform_error.h"
#include "support/win32/system_headers.h"

CompletionEvent::CompletionEvent() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!handle_) raise_last_error();
}

CompletionEvent::~CompletionEvent() {
  CloseHandle(handle_);
}

void CompletionEvent::Set() noexcept {
  SetEvent(handle_);
}

void CompletionEvent::Wait() noexcept {
  WaitForSingleObject(handle_, INFINITE);
}

bool CompletionEvent::WaitFor(std::chrono::milliseconds time) noexcept {
  return WaitForSingleObject(handle_, static_cast<DWORD>(time.count())) == WAIT_OBJECT_0;
}
