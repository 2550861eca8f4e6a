// Stored database passwords. DBEncryptedPassword holds base64 of a random
// nonce followed by an XSalsa20-Poly1305 box of the password, keyed by a
// hash of a fixed product key and the login. The key is in this program,
// so this hides the password from a casual reader of the configuration
// file; it does not protect it from anyone who can run this program.
#pragma once

#include <string>

// Writes the plain password into buffer (64 bytes, terminated). Returns
// false, leaving the buffer unchanged, when the value is not an encryption
// of a password for this login.
bool DecryptPassword(const char *login, const char *encryptedPasswd, char *decryptedPasswd,
                     size_t bufferLen = 64);

// The DBEncryptedPassword value for login and password; empty on failure.
std::string EncryptPassword(const char *login, const char *password);
