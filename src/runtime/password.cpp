#include "runtime/password.h"

#include <sodium.h>
#include <cstring>
#include <vector>

namespace {

const char kProductKey[] = "Talvex database password v1";

void DeriveKey(const char *login, unsigned char key[crypto_secretbox_KEYBYTES]) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_secretbox_KEYBYTES);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(kProductKey),
                            sizeof(kProductKey));
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(login), strlen(login));
  crypto_generichash_final(&state, key, crypto_secretbox_KEYBYTES);
}

}  // namespace

bool DecryptPassword(const char *login, const char *encryptedPasswd, char *decryptedPasswd,
                     size_t bufferLen) {
  if (sodium_init() < 0) return false;
  size_t textLen = strlen(encryptedPasswd);
  std::vector<unsigned char> raw(textLen + 1);
  size_t rawLen = 0;
  if (sodium_base642bin(raw.data(), raw.size(), encryptedPasswd, textLen, nullptr, &rawLen, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      rawLen < crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES)
    return false;
  size_t plainLen = rawLen - crypto_secretbox_NONCEBYTES - crypto_secretbox_MACBYTES;
  if (plainLen + 1 > bufferLen) return false;
  unsigned char key[crypto_secretbox_KEYBYTES];
  DeriveKey(login, key);
  std::vector<unsigned char> plain(plainLen + 1);
  bool ok = crypto_secretbox_open_easy(plain.data(), raw.data() + crypto_secretbox_NONCEBYTES,
                                       rawLen - crypto_secretbox_NONCEBYTES, raw.data(), key) == 0;
  sodium_memzero(key, sizeof(key));
  if (!ok || memchr(plain.data(), 0, plainLen) != nullptr) return false;
  memcpy(decryptedPasswd, plain.data(), plainLen);
  decryptedPasswd[plainLen] = 0;
  sodium_memzero(plain.data(), plain.size());
  return true;
}

std::string EncryptPassword(const char *login, const char *password) {
  if (sodium_init() < 0) return std::string();
  size_t len = strlen(password);
  std::vector<unsigned char> raw(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + len);
  randombytes_buf(raw.data(), crypto_secretbox_NONCEBYTES);
  unsigned char key[crypto_secretbox_KEYBYTES];
  DeriveKey(login, key);
  crypto_secretbox_easy(raw.data() + crypto_secretbox_NONCEBYTES,
                        reinterpret_cast<const unsigned char *>(password), len, raw.data(), key);
  sodium_memzero(key, sizeof(key));
  std::vector<char> text(sodium_base64_ENCODED_LEN(raw.size(), sodium_base64_VARIANT_ORIGINAL));
  sodium_bin2base64(text.data(), text.size(), raw.data(), raw.size(), sodium_base64_VARIANT_ORIGINAL);
  return std::string(text.data());
}
