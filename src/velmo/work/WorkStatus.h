#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "velmo/work/WorkDescriptor.h"

namespace velmo {

// Outcome of a work. Interrupted and RetryableError are not completions: the
// work runs again later. Fatal is also a composite's status before it has an
// outcome.
enum class WorkResult : std::uint8_t {
  Success = 0,
  Error = 1,
  Interrupted = 2,
  RetryableError = 3,
  Fatal = 4,
};

inline bool IsCompletion(WorkResult r) {
  return r != WorkResult::Interrupted && r != WorkResult::RetryableError;
}

// Payload of a status. Concrete payloads inherit it virtually so that one
// payload may combine several payload bases.
class WorkStatusData : public WorkDescriptor {
 public:
  // One-line error text for logs and analytics; empty by default.
  virtual std::string GetMessage() const { return std::string(); }
};

// A plain error message.
class WorkErrorData : public virtual WorkStatusData {
 public:
  explicit WorkErrorData(std::string message) : message_(std::move(message)) {}
  void Describe(boost::property_tree::ptree& out) const override;
  std::string GetMessage() const override { return message_; }

 private:
  std::string message_;
};

// An exception that escaped a task, kept to be described or rethrown.
class WorkExceptionData : public virtual WorkStatusData {
 public:
  // Keeps the exception; it is rethrown only by Rethrow.
  explicit WorkExceptionData(std::exception_ptr exception)
      : exception_(std::move(exception)) {}  // NOLINT(bugprone-throw-keyword-missing)
  // Throws std::logic_error when no exception was captured.
  [[noreturn]] void Rethrow() const;
  void Describe(boost::property_tree::ptree& out) const override;
  std::string GetMessage() const override;
  const std::exception_ptr& GetException() const { return exception_; }

 private:
  std::exception_ptr exception_;
};

// What a work reports: a result, the in-place retry flag and an optional
// payload. A value; copied freely.
class WorkStatus : public WorkDescriptor {
 public:
  WorkStatus(WorkResult outcome, std::shared_ptr<WorkStatusData> payload)
      : result(outcome), data(std::move(payload)) {}
  explicit WorkStatus(WorkResult outcome = WorkResult::Fatal) : result(outcome) {}

  void Describe(boost::property_tree::ptree& out) const override;

  WorkResult result;
  // True only on statuses handed to retry observers and on a composite's
  // status while it retries itself; never on a reported completion.
  bool retry = false;
  std::shared_ptr<WorkStatusData> data;
};

}  // namespace velmo
