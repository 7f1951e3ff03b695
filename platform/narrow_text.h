// The registry's narrow text: what the "A" functions take and give. Windows uses the system's
// ANSI code page; the hive store uses UTF-8. Files in other encodings (UTF-16 registry files,
// policy files, task definitions) meet the registry's text through these two functions, which
// live with the other text formats.
#pragma once

#include "formats/utf16.h"

namespace quorvane::platform {

using formats::narrowToUtf16;
using formats::utf16ToNarrow;

}  // namespace quorvane::platform
