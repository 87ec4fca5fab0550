#pragma once

// libcurl's process-wide set-up, done once before the first handle of any
// kind is made. Any thread; later calls return at once.
void EnsureCurlGlobal();
