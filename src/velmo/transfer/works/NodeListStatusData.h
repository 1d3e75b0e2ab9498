#pragma once

// The node list payload lives beside the package payload.
#include "velmo/transfer/works/PackageStatusData.h"
