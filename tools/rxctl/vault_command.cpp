// Placeholder until the vault commands land: keeps rxctl linking.
#include "tools/rxctl/commands.h"

#include <cstdio>

int run_vault_command(int, wchar_t**) {
    std::fputs("rxctl: the vault command is not available in this build\n", stderr);
    return 2;
}
