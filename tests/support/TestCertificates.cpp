#include "support/TestCertificates.h"

#include <cstdlib>

TTestCertificates::TTestCertificates()
    : CAFile(FDir.File("ca.pem")), CertFile(FDir.File("server.pem")), KeyFile(FDir.File("server.key"))
{
    const std::string command = "/bin/sh " QUILLCAST_TESTS_DIR "/support/make_test_certs.sh '" + FDir.Path() + "'";
    if (std::system(command.c_str()) != 0) return;
    Fingerprint = FDir.Read("server.sha256");
    while (!Fingerprint.empty() && (Fingerprint.back() == '\n' || Fingerprint.back() == '\r')) Fingerprint.pop_back();
}
