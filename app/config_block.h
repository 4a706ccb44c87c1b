// The stub's own configuration block (layout in container/config_block.h), in the
// section the self-extractor maker looks for.
#pragma once

#include "container/config_block.h"

extern vorx::ConfigBlock g_ConfigBlock;
