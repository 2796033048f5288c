// A terminal with a search service over it, for the search tests.
#pragma once

#include "Vantrelle/Text/SearchService.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle::testing {

struct SearchFixture {
  TestHost host;
  Terminal t;
  SearchService search;
  explicit SearchFixture(int cols = 20, int rows = 6, int scrollback = 500)
      : t(&host, sized(cols, rows, scrollback)), search(t) {}
};

}  // namespace vantrelle::testing
