// Prints the DBEncryptedPassword value for a login and a password.
//   tvpasswd <login> <password>
//   tvpasswd <login>            (reads the password from standard input)
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "external/password.h"

int main(int argc, char **argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "Usage: tvpasswd <login> [<password>]\n");
    return 1;
  }
  std::string password;
  if (argc == 3) {
    password = argv[2];
  } else if (!std::getline(std::cin, password)) {
    fprintf(stderr, "tvpasswd: no password on standard input\n");
    return 1;
  }
  if (password.size() > 63) {
    fprintf(stderr, "tvpasswd: password longer than 63 bytes\n");
    return 1;
  }
  std::string encrypted = EncryptPassword(argv[1], password.c_str());
  if (encrypted.empty()) {
    fprintf(stderr, "tvpasswd: encryption failed\n");
    return 1;
  }
  printf("%s\n", encrypted.c_str());
  return 0;
}
