#pragma once

// Resource IDs shared by sparkloom.rc and the code; plain #defines, as windres
// reads this file too.

#define SPARKLOOM_ICON 1
#define SPARKLOOM_BANNER_JPEG 101
#define SPARKLOOM_DONATION_JPEG 102
