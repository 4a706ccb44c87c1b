// The stub's own configuration block, as shipped: an absolute destination proposal that
// ends in a backslash and no command to run.
#include "app/config_block.h"

__attribute__((section(SFX_CONFIG_SECTION), used))
ConfigBlock g_ConfigBlock = {"C:\\Extracted\\", ""};
