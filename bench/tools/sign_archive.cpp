// Signs an archive in place with the tests' key, for benchmarks of signed updates (the release
// build's launcher in "signed/" trusts that key):
//   sign_archive ARCHIVE VERSIONS

#include <exception>
#include <iostream>

#include "publish/signing.h"
#include "support/test_keys.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: sign_archive ARCHIVE VERSIONS\n";
    return 2;
  }
  try {
    tarvo::publish::SignArchiveFile(argv[1], argv[2], tarvo::test::TestSecretKey(), std::cerr);
  } catch (const std::exception& failure) {
    std::cerr << "sign_archive: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
