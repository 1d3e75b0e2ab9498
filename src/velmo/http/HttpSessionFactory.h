#pragma once

#include <memory>

#include "velmo/http/HttpSession.h"

namespace velmo {

class HttpSessionFactory {
 public:
  virtual ~HttpSessionFactory() = default;
  virtual std::shared_ptr<HttpSession> Create() = 0;
};

}  // namespace velmo
