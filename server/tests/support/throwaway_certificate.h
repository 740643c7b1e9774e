#pragma once
// A self-signed certificate for 127.0.0.1 and localhost, made afresh for one test run.
#include <string>

struct CertificateFiles {
    std::string certificate; // PEM, also the client's only trusted root
    std::string privateKey;
};

bool makeThrowawayCertificate(const std::string& folder, CertificateFiles& files);
