#pragma once

// The two manifest fetches share one header.
#include "velmo/transfer/works/GetPackageManifestWork.h"
