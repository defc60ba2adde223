#pragma once
// One query of a search: its client and the scan state of its page.

#include "net/httpprot.h"
#include "search/dispatch.h"

#include <memory>

namespace search {

struct SearchDispatch::Query {
    std::unique_ptr<net::THttpCli> client = std::make_unique<net::THttpCli>();
    ScanState scan;
};

} // namespace search
