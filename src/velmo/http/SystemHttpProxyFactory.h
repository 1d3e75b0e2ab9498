#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "velmo/http/EnvironmentHttpProxy.h"
#include "velmo/http/HttpProxyFactory.h"

namespace velmo {

// Discovers the proxy once per call: the proxy variables when one is set
// (EnvironmentHttpProxy), otherwise the desktop's automatic configuration
// (LibproxyHttpProxy). libproxy has no time limit of its own, so its
// discovery is bounded (TimeLimitedHttpProxy) by the four timeouts
// (milliseconds, from the engine settings) together: the worst case of a
// discovery that resolves, connects, sends and receives once each. Past it the
// requests go direct and `notice` is told (standard error by default).
class SystemHttpProxyFactory : public HttpProxyFactory {
 public:
  using Notice = std::function<void(const std::string&)>;

  SystemHttpProxyFactory(std::int32_t resolveTimeout, std::int32_t connectTimeout,
                         std::int32_t sendTimeout, std::int32_t receiveTimeout,
                         EnvironmentReader environment = ReadProcessEnvironment,
                         Notice notice = Notice())
      : resolveTimeout_(resolveTimeout),
        connectTimeout_(connectTimeout),
        sendTimeout_(sendTimeout),
        receiveTimeout_(receiveTimeout),
        environment_(std::move(environment)),
        notice_(std::move(notice)) {}

  std::shared_ptr<HttpProxy> Create() override;

  std::int32_t resolveTimeout() const { return resolveTimeout_; }
  std::int32_t connectTimeout() const { return connectTimeout_; }
  std::int32_t sendTimeout() const { return sendTimeout_; }
  std::int32_t receiveTimeout() const { return receiveTimeout_; }
  // The bound on one automatic discovery: the four timeouts together.
  std::chrono::milliseconds DiscoveryLimit() const;

 private:
  std::int32_t resolveTimeout_;
  std::int32_t connectTimeout_;
  std::int32_t sendTimeout_;
  std::int32_t receiveTimeout_;
  EnvironmentReader environment_;
  Notice notice_;
};

}  // namespace velmo
