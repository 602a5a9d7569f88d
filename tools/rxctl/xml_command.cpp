// Placeholder until the xml command lands: keeps rxctl linking.
#include "tools/rxctl/commands.h"

#include <cstdio>

int run_xml_command(int, wchar_t**) {
    std::fputs("rxctl: the xml command is not available in this build\n", stderr);
    return 2;
}
