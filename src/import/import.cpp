#include "import/import.h"

namespace tw {

void import_run() {}

}  // namespace tw
