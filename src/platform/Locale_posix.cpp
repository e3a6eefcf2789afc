#include "platform/Locale.h"

#include <langinfo.h>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace sparkloom::platform {

void PreferUtf8Locale() {
    if (std::setlocale(LC_ALL, "") != nullptr && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
        return;
    }
    // LC_ALL outranks LC_CTYPE, so it has to give way too; messages stay untranslated either way.
    if (const char* all = std::getenv("LC_ALL"); all != nullptr && *all != '\0') {
        ::setenv("LC_ALL", "C.UTF-8", 1);
    }
    ::setenv("LC_CTYPE", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "");
}

}  // namespace sparkloom::platform
