#include "platform/Allocator.h"

namespace sparkloom::platform {

// The Windows heap keeps freed blocks for reuse by itself.
void KeepFreedMemoryForReuse() {}

}  // namespace sparkloom::platform
