// The signature of a manifest's bytes, for update-manifest sign: ECDSA
// P-256 over their SHA-256 with the private key of a PEM file, in DER, as
// one line of base64 without its line end (what `openssl dgst -sha256
// -sign <key> | openssl base64 -A` writes). Only the Linux build signs
// (with OpenSSL's libcrypto); the Windows build says so.
#pragma once

#include <string>

// False with the reason in `error`.
bool SignBytes(const char* privateKeyPath, const std::string& bytes, std::string& line,
               std::string& error);
