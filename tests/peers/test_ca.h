#pragma once
// Certificates for the TLS tests, made with the openssl command in a
// temporary directory: a certificate authority and server certificates it
// signs, each for the names and addresses given.

#include "support/tempdir.h"

#include <string>
#include <vector>

namespace testpeers {

struct ServerCert {
    std::string cert, key; // PEM files
};

class TestCa {
public:
    // Makes the authority's key and self-signed certificate ("" name: "Wavetrap Test CA").
    explicit TestCa(const std::string& name = "Wavetrap Test CA");
    bool ok() const { return ok_; }
    const std::string& certFile() const { return cert_; }
    // A server certificate for subjectAltName alt ("DNS:localhost,IP:127.0.0.1").
    ServerCert issue(const std::string& file, const std::string& alt);

private:
    testsupport::TempDir dir_;
    std::string cert_, key_;
    bool ok_ = false;
};

// Runs the openssl command; true when it exits with 0.
bool runOpenssl(const std::vector<std::string>& args);

} // namespace testpeers
