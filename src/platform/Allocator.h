#pragma once

namespace sparkloom::platform {

// Packing opens one deflate stream per archive entry, about 260 KB that is
// allocated and freed again for every file. glibc hands such a freed heap top
// back to the kernel at once, so every entry paid for fresh zeroed pages: half
// of the packing time went to page faults. Keeping a few MiB of freed memory
// for reuse removes that; call once at start-up.
void KeepFreedMemoryForReuse();

}  // namespace sparkloom::platform
