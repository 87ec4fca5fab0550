#pragma once

// Points a curl easy handle (void* = CURL*) at the certificate authority the
// user named in CURL_CA_BUNDLE or SSL_CERT_FILE, and SSL_CERT_DIR; libcurl
// itself only uses the bundle it was built with. Nothing changes when none is
// set. Any thread, on a handle that thread owns.
void ApplyCertificateSettings(void* easy);
