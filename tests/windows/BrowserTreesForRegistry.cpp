// The browser Accessibility trees of the tab tests, built into the window tests as well: the
// registry's tab step walks the same simulated browsers.
#include "tabs/BrowserTrees.cpp"  // NOLINT(bugprone-suspicious-include)
