#include "velmo/http/RoundRobinHttpSessionFactory.h"

#include "velmo/http/RoundRobinHttpRequestPool.h"

namespace velmo {

std::shared_ptr<HttpSession> RoundRobinHttpSessionFactory::Create() {
  return std::make_shared<HttpSession>(std::make_shared<RoundRobinHttpRequestPool>());
}

}  // namespace velmo
