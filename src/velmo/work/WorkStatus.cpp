#include "velmo/work/WorkStatus.h"

#include <stdexcept>
#include <typeinfo>

namespace velmo {

namespace {
const char kUnknownException[] = "Unknown exception type";
}

void WorkErrorData::Describe(boost::property_tree::ptree& out) const {
  out.put("errorMessage", message_);
}

void WorkExceptionData::Rethrow() const {
  if (!exception_)
    throw std::logic_error("WorkExceptionData::Rethrow called with no exception_ptr");
  std::rethrow_exception(exception_);
}

void WorkExceptionData::Describe(boost::property_tree::ptree& out) const {
  try {
    Rethrow();
  } catch (const std::exception& e) {
    if (!exception_) {
      out.put("exception", kUnknownException);
      return;
    }
    out.put("exception", typeid(e).name());
    out.put("what", e.what());
  } catch (...) {
    out.put("exception", kUnknownException);
  }
}

std::string WorkExceptionData::GetMessage() const {
  if (!exception_) return kUnknownException;
  try {
    Rethrow();
  } catch (const std::exception& e) {
    return typeid(e).name();
  } catch (...) {
  }
  return kUnknownException;
}

void WorkStatus::Describe(boost::property_tree::ptree& out) const {
  out.put("result", static_cast<int>(result));
  out.put("retry", retry ? "true" : "false");
  if (data) {
    boost::property_tree::ptree child;
    data->Describe(child);
    out.add_child("data", child);
  }
}

}  // namespace velmo
