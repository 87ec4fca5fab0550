#pragma once

// libcurl's process-wide set-up (curl_global_init), done once for the whole
// program before the first handle is made. Every user of libcurl in this
// layer calls EnsureCurlGlobal first; it is cheap after the first call and
// safe from any thread. The set-up is never undone: handles may live until
// the program ends.
void EnsureCurlGlobal();
