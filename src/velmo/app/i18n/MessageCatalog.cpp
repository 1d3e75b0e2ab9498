#include "velmo/app/i18n/MessageCatalog.h"

namespace velmo {

MessageCatalog::~MessageCatalog() = default;

}  // namespace velmo
