#include "signing.h"

bool SignBytes(const char*, const std::string&, std::string&, std::string& error) {
    error = "this build cannot sign: sign with the Linux build of update-manifest, or with "
            "openssl dgst -sha256 -sign";
    return false;
}
