#include "velmo/http/SystemHttpProxyFactory.h"

#include "velmo/http/LibproxyHttpProxy.h"

namespace velmo {

std::shared_ptr<HttpProxy> SystemHttpProxyFactory::Create() {
  if (std::optional<EnvironmentHttpProxy> manual =
          EnvironmentHttpProxy::FromEnvironment(environment_)) {
    return std::make_shared<EnvironmentHttpProxy>(std::move(*manual));
  }
  return std::make_shared<LibproxyHttpProxy>();
}

}  // namespace velmo
