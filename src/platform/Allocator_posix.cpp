#include "platform/Allocator.h"

#include <malloc.h>

namespace sparkloom::platform {

namespace {
constexpr int kTrimThreshold = 8 << 20;
// Fixing the trim threshold also fixes the mmap threshold; the packer's
// 128 KiB chunk buffer would then get a fresh mapping for each file.
constexpr int kMmapThreshold = 4 << 20;
}  // namespace

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
    // Only a tuning: a refusal leaves the allocator as it was, which still works.
    (void)mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
    (void)mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
#endif
}

}  // namespace sparkloom::platform
