#pragma once

namespace sparkloom::platform {

// Qt wants a UTF-8 locale and says so on stderr under LANG=C (as scripts and
// cron run). Switching the character type to C.UTF-8 first keeps the program's
// output its own; call before the application object is made.
void PreferUtf8Locale();

}  // namespace sparkloom::platform
