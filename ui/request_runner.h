// Runs the dialog's requests off its thread, so that the window keeps
// painting, moving and answering while a request waits on the network, and
// hands each outcome back to the dialog by a posted message.
//
// The engine stays single-request and synchronous: every request gets an
// Engine of its own on a thread of its own, whose result list and trace sink
// only record: the rows come back ready to show (converted, in their final
// order), so the dialog's thread only swaps them in when the outcome arrives, and only if it still
// waits for that request's generation number; the outcome of a request it gave up is dropped whole.
// A worker is detached: one whose request was given up finishes in the background within the
// engine's time-outs. Once the runner is closed (the dialog is going away), a finished worker frees
// its outcome instead of posting it.
//
// Start, Close and Take are for the dialog's thread; the workers touch only
// their own job and the runner's shared mailbox.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/dispatch.h"
#include "engine/engine.h"
#include "engine/wait_condition.h"
#include "report/result_list.h"
#include "request/credentials.h"
#include "ui/result_list_view.h"

namespace kestrune::ui {

// One request, as the dialog hands it over: everything the worker needs, by
// value, so nothing of the dialog is touched off its thread.
struct RequestJob {
  std::uint64_t generation = 0;
  engine::EngineOptions options;
  // Both empty: the worker takes them from the credential chain
  // (engine/credential_chain.h), found once per runner and renewed as they
  // near their end; a chain that finds none sends nothing.
  request::Credentials credentials;
  std::optional<catalogue::ResolvedAction> action;
  catalogue::ParameterValues values;
  // With a plan: the request is repeated until its reply holds what the plan
  // wants; setting `cancelled` gives the wait up before the next call.
  std::optional<engine::WaitPlan> wait;
  std::shared_ptr<std::atomic<bool>> cancelled;
};

struct RequestOutcome {
  std::uint64_t generation = 0;
  engine::RequestResult result;
  // The reply's rows, with the notes that explain an error below them.
  ShownRows rows;
  std::vector<std::string> trace_lines;
  // The engine's clock offset after the request, for the next one.
  std::chrono::seconds clock_offset{0};
  // A job with a wait plan: how the wait ended (`result` and `rows`
  // are its last call's).
  std::optional<engine::WaitProgress> waited;
  // Where the chain found the credentials; empty when they were typed in.
  // Never holds the secret or the token.
  std::string credential_source;
};

class RequestRunner {
 public:
  RequestRunner();
  ~RequestRunner();
  RequestRunner(const RequestRunner&) = delete;
  RequestRunner& operator=(const RequestRunner&) = delete;

  // Outcomes go to `window` as `done_message` with the outcome's address as
  // its second parameter; the receiver takes it with Take.
  void Open(HWND window, UINT done_message);
  // No outcome is posted any more; workers still running free theirs. Also
  // frees the outcomes already posted but not yet taken.
  void Close();

  // Starts `job` on a thread of its own; false when no thread could be
  // started (then nothing runs).
  bool Start(RequestJob job);

  // Takes ownership of the outcome a done message carries.
  static std::unique_ptr<RequestOutcome> Take(LPARAM lparam);

 private:
  struct Mailbox;
  std::shared_ptr<Mailbox> mailbox_;
};

}  // namespace kestrune::ui
