#pragma once
// Certificates made at test time by `openssl` (make_test_certs.sh): a test CA and a
// server certificate it signed for localhost and 127.0.0.1, in a temporary folder.
#include <string>

#include "support/TempDir.h"

class TTestCertificates {
    TTempDir FDir;  // first: the paths below are made from it

public:
    TTestCertificates();
    bool Made() const { return !Fingerprint.empty(); }  // false: openssl failed or is missing

    std::string CAFile, CertFile, KeyFile;
    std::string Fingerprint;  // of the server certificate, "AB:CD:…"
};
