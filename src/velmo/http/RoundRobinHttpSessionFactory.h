#pragma once

#include "velmo/http/HttpSessionFactory.h"

namespace velmo {

// Each session gets its own round-robin pool and discovers its proxy on first use.
class RoundRobinHttpSessionFactory : public HttpSessionFactory {
 public:
  std::shared_ptr<HttpSession> Create() override;
};

}  // namespace velmo
