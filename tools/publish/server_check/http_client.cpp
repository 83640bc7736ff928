#include "publish/server_check/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>

#include "tarvo_version.h"

namespace tarvo::publish {

namespace {

struct Transfer {
  HttpResponse response;
  std::size_t maxBody = 0;
  bool cut = false;  // the body went past what was asked for, and the transfer was ended
};

std::string Trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  return text;
}

// libcurl's callbacks are C: nothing is thrown out of them.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::string line(data, size * count);
  try {
    if (line.starts_with("HTTP/")) {
      transfer.response.headers.clear();  // an interim response's fields are not the answer's
    } else if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      transfer.response.headers[name] = Trimmed(line.substr(colon + 1));
    }
  } catch (...) {
    return 0;
  }
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  try {
    const std::size_t room = transfer.maxBody - transfer.response.body.size();
    transfer.response.body.append(data, std::min(bytes, room));
    if (bytes > room) {
      transfer.cut = true;
      return 0;  // ends the transfer
    }
  } catch (...) {
    return 0;
  }
  return bytes;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::string HttpResponse::Header(const std::string& lowerCaseName) const {
  const auto field = headers.find(lowerCaseName);
  return field == headers.end() ? std::string() : field->second;
}

HttpResponse HttpGet(const std::string& url, const std::vector<std::string>& headers,
                     std::size_t maxBody) {
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) throw std::runtime_error("libcurl could not start");
  std::unique_ptr<curl_slist, ListDeleter> list;
  for (const std::string& header : headers) {
    curl_slist* longer = curl_slist_append(list.get(), header.c_str());
    if (longer == nullptr) throw std::bad_alloc();
    list.release();
    list.reset(longer);
  }
  Transfer transfer;
  transfer.maxBody = maxBody;
  char error[CURL_ERROR_SIZE] = "";
  CURL* handle = easy.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "tarvo-publish/" TARVO_VERSION_TEXT);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 15L);
  // A server that stops sending is given up, however long the body.
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.cut)) {
    throw std::runtime_error(url + ": " + (error[0] != 0 ? error : curl_easy_strerror(code)));
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.response.status);
  return std::move(transfer.response);
}

}  // namespace tarvo::publish
