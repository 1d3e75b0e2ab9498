#include "velmo/http/HttpRequestParams.h"

namespace velmo {

const std::string& GetHttpUserAgent() {
  // A function-local constant, so requests built during static initialisation of
  // other files still see it.
  static const std::string kUserAgent = "Orvanta Pellaris TransferService 1.1.1";
  return kUserAgent;
}

}  // namespace velmo
