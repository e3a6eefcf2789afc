#include "platform/Locale.h"

namespace sparkloom::platform {

// Windows programs take their text as wide strings at the edge; the C locale's
// character type plays no part in it.
void PreferUtf8Locale() {}

}  // namespace sparkloom::platform
