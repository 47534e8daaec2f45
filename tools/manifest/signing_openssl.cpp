#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <vector>

#include "signing.h"

bool SignBytes(const char* privateKeyPath, const std::string& bytes, std::string& line,
               std::string& error) {
    std::FILE* file = std::fopen(privateKeyPath, "rb");
    if (file == nullptr) {
        error = "cannot read the key";
        return false;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    char group[32] = "";
    std::size_t groupLength = 0;
    if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
        EVP_PKEY_get_group_name(key, group, sizeof group, &groupLength) != 1 ||
        std::string(group) != "prime256v1") {
        EVP_PKEY_free(key);
        error = "not a PEM private key of ECDSA P-256";
        return false;
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::size_t size = 0;
    std::vector<unsigned char> der;
    bool signed_ =
        context != nullptr &&
        EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(context, nullptr, &size,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
    if (signed_) {
        der.resize(size);
        signed_ =
            EVP_DigestSign(context, der.data(), &size,
                           reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
    }
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    if (!signed_) {
        error = "OpenSSL could not sign";
        return false;
    }
    std::vector<unsigned char> text(4 * ((size + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(text.data(), der.data(), static_cast<int>(size));
    line.assign(reinterpret_cast<const char*>(text.data()), static_cast<std::size_t>(length));
    return true;
}
