// Questions about the platform.
//
// Test seam: SetPlatformTypeForTesting makes QueryPlatformType answer a chosen
// text (or fail); ResetPlatformTypeForTesting restores the real query.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace lanfeed {

// The platform-type text: SystemParametersInfoW(SPI_GETPLATFORMTYPE = 257)
// into `buffer` of `capacity` wide characters. Windows CE answers e.g.
// "PocketPC WinCE"; desktop Windows (and Wine) know no such parameter and
// fail. Elsewhere the text is taken from the environment variable
// LANFEED_PLATFORM_TYPE, and the query fails without it. On success the text
// is terminated within the buffer (cut to fit).
bool QueryPlatformType(WChar* buffer, std::size_t capacity);

// `text` null: the query fails. Otherwise the query answers `text`.
void SetPlatformTypeForTesting(const WChar* text);
void ResetPlatformTypeForTesting();

}  // namespace lanfeed
