// Placeholder until the scramble commands land: keeps rxctl linking.
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"

int run_scramble_command(int, wchar_t**, bool) {
    write_standard_error("rxctl: the scramble command is not available in this build\n");
    return 2;
}
