#include "shell/wavetrap.h"

namespace shell {

Wavetrap::Wavetrap() : table(urlinfo, stats), stats(table, pending), extractor(table) {}

} // namespace shell
