#include "velmo/http/SystemHttpProxyFactory.h"

#include <cstdio>

#include "velmo/http/LibproxyHttpProxy.h"
#include "velmo/http/TimeLimitedHttpProxy.h"

namespace velmo {

std::chrono::milliseconds SystemHttpProxyFactory::DiscoveryLimit() const {
  std::int64_t total = 0;
  for (std::int32_t part : {resolveTimeout_, connectTimeout_, sendTimeout_, receiveTimeout_}) {
    if (part > 0) total += part;
  }
  return std::chrono::milliseconds(total);
}

std::shared_ptr<HttpProxy> SystemHttpProxyFactory::Create() {
  if (std::optional<EnvironmentHttpProxy> manual =
          EnvironmentHttpProxy::FromEnvironment(environment_)) {
    return std::make_shared<EnvironmentHttpProxy>(std::move(*manual));
  }
  Notice notice = notice_;
  if (!notice) {
    notice = [](const std::string& text) { std::fprintf(stderr, "velmo: %s\n", text.c_str()); };
  }
  return std::make_shared<TimeLimitedHttpProxy>(std::make_shared<LibproxyHttpProxy>(),
                                                DiscoveryLimit(), std::move(notice));
}

}  // namespace velmo
