#pragma once

#include <cstdint>

#include "velmo/http/EnvironmentHttpProxy.h"
#include "velmo/http/HttpProxyFactory.h"

namespace velmo {

// Discovers the proxy once per call: the proxy variables when one is set
// (EnvironmentHttpProxy), otherwise the desktop's automatic configuration
// (LibproxyHttpProxy). The four timeouts (milliseconds) come from the engine
// settings and are kept for discovery back ends that can honour them; libproxy
// offers no way to bound its own work.
class SystemHttpProxyFactory : public HttpProxyFactory {
 public:
  SystemHttpProxyFactory(std::int32_t resolveTimeout, std::int32_t connectTimeout,
                         std::int32_t sendTimeout, std::int32_t receiveTimeout,
                         EnvironmentReader environment = ReadProcessEnvironment)
      : resolveTimeout_(resolveTimeout),
        connectTimeout_(connectTimeout),
        sendTimeout_(sendTimeout),
        receiveTimeout_(receiveTimeout),
        environment_(std::move(environment)) {}

  std::shared_ptr<HttpProxy> Create() override;

  std::int32_t resolveTimeout() const { return resolveTimeout_; }
  std::int32_t connectTimeout() const { return connectTimeout_; }
  std::int32_t sendTimeout() const { return sendTimeout_; }
  std::int32_t receiveTimeout() const { return receiveTimeout_; }

 private:
  std::int32_t resolveTimeout_;
  std::int32_t connectTimeout_;
  std::int32_t sendTimeout_;
  std::int32_t receiveTimeout_;
  EnvironmentReader environment_;
};

}  // namespace velmo
