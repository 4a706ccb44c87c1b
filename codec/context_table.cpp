// Release of the decoder's context table, which lives in the archive handle.
#include <cstdlib>

#include "library/stream.h"

namespace vorx {

void ReleaseContextTable(ContextTable* table) { std::free(table); }

}  // namespace vorx
