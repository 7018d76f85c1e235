#include "store/content_digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace veltrix::store {
namespace {

struct DigestContext {
    DigestContext() : context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context, EVP_sha256(), nullptr); }
    ~DigestContext() { EVP_MD_CTX_free(context); }
    void update(const void* data, std::size_t size) { EVP_DigestUpdate(context, data, size); }
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(context, digest, &size);
        static constexpr char kHex[] = "0123456789abcdef";
        std::string text;
        for (unsigned int i = 0; i < size; ++i) {
            text += kHex[digest[i] >> 4];
            text += kHex[digest[i] & 15];
        }
        return text;
    }
    EVP_MD_CTX* context;
};

}  // namespace

std::string contentDigest(std::string_view bytes) {
    DigestContext context;
    context.update(bytes.data(), bytes.size());
    return context.hex();
}

Result<std::string> fileDigest(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return Failure{failure_code::kFileError, "cannot open " + path};
    DigestContext context;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) context.update(buffer, got);
    if (std::ferror(file.get())) return Failure{failure_code::kFileError, "cannot read " + path};
    return context.hex();
}

}  // namespace veltrix::store
