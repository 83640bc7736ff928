#include "publish/signing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

#include "publish/file_bytes.h"
#include "publish/progress.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadBlock = 1 << 20;

std::string Trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  return text;
}

}  // namespace

int RunKeygen(const fs::path& path, std::ostream& out, std::ostream& err) {
  const auto [publicKey, secretKey] = MakeKeyPair();
  // Made new with the owner's permissions alone: an existing key is never overwritten, and
  // nobody else may read the new one.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    err << "tarvo-publish: cannot make " << path.string()
        << (errno == EEXIST ? ": it exists already (a key is never overwritten)" : "") << "\n";
    return 1;
  }
  const std::string text = EncodeBase64(secretKey.bytes.data(), secretKey.bytes.size()) + "\n";
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (close(fd) != 0 || !written) {
    std::error_code ignored;
    fs::remove(path, ignored);
    err << "tarvo-publish: cannot write " << path.string() << "\n";
    return 1;
  }
  out << "wrote the secret key to " << path.string()
      << ": keep it secret and keep a copy; launchers built with the public key below take "
         "updates signed with it alone\n"
      << "public key (build Tarvo.exe with -DTARVO_PUBLIC_KEY=<it>):\n"
      << EncodeBase64(publicKey.bytes.data(), publicKey.bytes.size()) << "\n";
  return 0;
}

int RunPubkey(const fs::path& path, std::ostream& out, std::ostream& err) {
  try {
    const PublicKey key = PublicKeyOf(ReadSecretKeyFile(path));
    out << "public key of " << path.string() << " (build Tarvo.exe with -DTARVO_PUBLIC_KEY=<it>):\n"
        << EncodeBase64(key.bytes.data(), key.bytes.size()) << "\n";
    return 0;
  } catch (const std::exception& failure) {
    err << "tarvo-publish: " << failure.what() << "\n";
    return 1;
  }
}

PublicKey PublicKeyOf(const SecretKey& key) {
  // The secret key holds its seed, then the public key.
  PublicKey publicKey;
  std::copy(key.bytes.end() - publicKey.bytes.size(), key.bytes.end(), publicKey.bytes.begin());
  return publicKey;
}

SecretKey ReadSecretKeyFile(const fs::path& path) {
  const std::optional<SecretKey> key = DecodeSecretKey(Trimmed(ReadFileBytes(path)));
  if (!key) throw std::runtime_error(path.string() + " holds no secret key made by keygen");
  return *key;
}

PublicKey ParsePublicKey(const std::string& text) {
  const std::optional<PublicKey> key = DecodePublicKey(Trimmed(text));
  if (!key) throw std::runtime_error("not a public key (the base64 that keygen prints): " + text);
  return *key;
}

void SignArchiveFile(const fs::path& path, const std::string& versions, const SecretKey& key,
                     std::ostream& progressOut) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::error_code ignored;
  Progress progress(progressOut, "signing", 1, fs::file_size(path, ignored));
  ArchiveStream stream(ArchiveStream::Hashing::kHere, versions);
  for (;;) {
    StreamTail::Block block(kReadBlock);
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    if (in.gcount() <= 0) break;
    block.resize(static_cast<std::size_t>(in.gcount()));
    progress.Advance(block.size(), false);
    stream.Append(std::move(block));
  }
  if (in.bad()) throw std::runtime_error("cannot read " + path.string());
  in.close();
  const std::optional<ArchiveStream::Ending> ending = stream.Finish();
  if (!ending || ending->statement.empty()) {
    throw std::runtime_error(path.string() + " is no zip archive");
  }
  // The new end goes over the old one, and the file ends with it.
  const std::string end = SignedEnd(*ending, key);
  {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(ending->signedEnd));
    out.write(end.data(), static_cast<std::streamsize>(end.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
  fs::resize_file(path, ending->signedEnd + end.size());
}

bool ArchiveCarriesSignature(const fs::path& path) {
  constexpr std::uint64_t kTail = 128 << 10;
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  const std::uint64_t size = fs::file_size(path, error);
  if (!in || error) return false;
  const std::uint64_t from = size > kTail ? size - kTail : 0;
  ArchiveStream stream(ArchiveStream::Hashing::kNone);
  stream.Skip(from);
  StreamTail::Block block(static_cast<std::size_t>(size - from));
  in.seekg(static_cast<std::streamoff>(from));
  in.read(block.data(), static_cast<std::streamsize>(block.size()));
  if (in.gcount() != static_cast<std::streamsize>(block.size())) return false;
  stream.Append(std::move(block));
  const auto ending = stream.Finish();
  return ending && ending->commentReachesEnd && ending->comment.size() == kSignatureCommentSize &&
         ending->comment.starts_with(kSignatureCommentHead);
}

int RunSign(const fs::path& keyFile, const std::vector<fs::path>& archives, std::ostream& out,
            std::ostream& err) {
  SecretKey key;
  try {
    key = ReadSecretKeyFile(keyFile);
  } catch (const std::exception& failure) {
    err << "tarvo-publish: " << failure.what() << "\n";
    return 1;
  }
  int status = 0;
  for (const fs::path& archive : archives) {
    const std::string versions = archive.filename().string().substr(0, kSignedVersionsSize);
    try {
      if (!IsSignedVersions(versions)) {
        throw std::runtime_error(archive.string() +
                                 ": the name does not begin with the 13 digits of the versions "
                                 "it is published for");
      }
      if (!fs::is_regular_file(archive)) throw std::runtime_error(archive.string() + " is no file");
      SignArchiveFile(archive, versions, key, err);
      out << "signed " << archive.string() << " for " << versions << "\n";
    } catch (const std::exception& failure) {
      err << "tarvo-publish: " << failure.what() << "\n";
      status = 1;
    }
  }
  return status;
}

}  // namespace tarvo::publish
