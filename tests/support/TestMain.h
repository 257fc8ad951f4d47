// What every test program's main() does before RUN_ALL_TESTS.
#pragma once
#include <gtest/gtest.h>

// On Windows GoogleTest starts a watcher thread the first time a thread touches one of its
// thread-locals (SCOPED_TRACE, a failure), and Wine 8 crashes or hangs a process that ends while
// a thread it has just created is still starting: short programs failed now and then after
// passing. This starts the main thread's watcher at once and returns when it is running (or
// after 10 s). No other thread of a test makes assertions, so no other watcher starts.
void StartGoogleTestWatcher();
