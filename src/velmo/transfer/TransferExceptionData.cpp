#include "velmo/transfer/TransferExceptionData.h"

#include <curl/curl.h>

#include <boost/property_tree/ptree.hpp>
#include <new>
#include <typeinfo>

#include "velmo/file/FileException.h"
#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

TransferExceptionData::TransferExceptionData(TransferError error, std::exception_ptr exception,
                                             std::string context)
    // Keeps the exception as data, for the transfer's error; nothing is thrown.
    : WorkExceptionData(std::move(exception)),  // NOLINT(bugprone-throw-keyword-missing)
      error_(error),
      context_(std::move(context)) {}

void TransferExceptionData::Describe(boost::property_tree::ptree& out) const {
  out.put("transferError", ToString(error_));
  WorkExceptionData::Describe(out);
}

std::string TransferExceptionData::GetCause() const {
  std::string what = DescribeException(GetException());
  if (context_.empty()) return what;
  return context_ + ": " + what;
}

std::string DescribeException(const std::exception_ptr& exception) {
  if (!exception) return "no exception";
  try {
    std::rethrow_exception(exception);
  } catch (const FileException& e) {
    return DescribeFileException(e);
  } catch (const ManifestLocatorException& e) {
    const std::string what = e.what();
    return what.empty() ? "not there, or not the document asked for" : ExplainRequestError(what);
  } catch (const ManifestParseException& e) {
    const std::string what = e.what();
    return what.empty() ? "not a valid document" : "not a valid document: " + what;
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    return what.empty() ? typeid(e).name() : ExplainRequestError(what);
  } catch (...) {
  }
  return "unknown exception";
}

std::string TransferExceptionData::GetMessage() const {
  return FormatErrorDiagnostic(error_, {WorkExceptionData::GetMessage()});
}

std::string ExplainRequestError(const std::string& message) {
  static const std::string kPrefix = "libcurl error ";
  if (message.compare(0, kPrefix.size(), kPrefix) != 0) return message;
  std::size_t end = kPrefix.size();
  int code = 0;
  while (end < message.size() && end < kPrefix.size() + 4 && message[end] >= '0' &&
         message[end] <= '9') {
    code = code * 10 + (message[end] - '0');
    ++end;
  }
  if (end == kPrefix.size()) return message;
  return message + ": " + curl_easy_strerror(static_cast<CURLcode>(code));
}

std::shared_ptr<TransferExceptionData> MakeTransferExceptionData(TransferError error,
                                                                 std::string context) {
  return std::make_shared<TransferExceptionData>(error, std::current_exception(),
                                                 std::move(context));
}

}  // namespace velmo
