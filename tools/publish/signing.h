#pragma once
// Keys and signatures for launchers built with a public key: making a key pair, signing
// archives, checking them.

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "unzip/archive_signing.h"

namespace tarvo::publish {

// Writes a new secret key to `path` (base64 text, mode 0600), refusing a file that exists, and
// prints the public key as the last line of `out`. 0, or 1 with the reason on `err`.
int RunKeygen(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// Prints the public key of the secret key in the file at `path` as the last line of `out`.
// 0, or 1 with the reason on `err`.
int RunPubkey(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// The public key that belongs to `key`.
PublicKey PublicKeyOf(const SecretKey& key);

// The secret key in the file at `path`, as RunKeygen writes it. Throws std::runtime_error saying
// why when there is none.
SecretKey ReadSecretKeyFile(const std::filesystem::path& path);

// The public key that `text` (base64) spells. Throws std::runtime_error when it spells none.
PublicKey ParsePublicKey(const std::string& text);

// Signs the zip archive at `path` for `versions` (13 digits): its end record's comment becomes
// the signature, and whatever followed the record is dropped. Progress lines of a large archive
// go to `progress`. Throws std::runtime_error saying why when it is no zip archive or cannot be
// written.
void SignArchiveFile(const std::filesystem::path& path, const std::string& versions,
                     const SecretKey& key, std::ostream& progress);

// True when the zip archive at `path` ends in a signature comment, whatever key made it (the
// archive's last 128 KiB are read). False also when it cannot be read.
bool ArchiveCarriesSignature(const std::filesystem::path& path);

// Signs each archive that another tool wrote, named after its versions (its name begins with
// their 13 digits). 0 when all were signed, else 1; one line per archive on `out` or `err`.
int RunSign(const std::filesystem::path& keyFile,
            const std::vector<std::filesystem::path>& archives, std::ostream& out,
            std::ostream& err);

}  // namespace tarvo::publish
