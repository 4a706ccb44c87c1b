// The stub's own configuration block, as shipped: an absolute destination proposal that
// ends in a backslash and no command to run.
#include "app/config_block.h"

__attribute__((section(VORX_CONFIG_SECTION), used))
vorx::ConfigBlock g_ConfigBlock = {"C:\\Extracted\\", ""};
