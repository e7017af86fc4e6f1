#include "feedback/LoopbackHttpsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

// A P-256 key and a certificate for 127.0.0.1, valid for a day, signed by itself.
void makeCertificate(EVP_PKEY*& key, X509*& certificate) {
  key = EVP_EC_gen("P-256");
  certificate = X509_new();
  if (!key || !certificate) throw std::runtime_error("could not make a test key");
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                             0);
  X509_set_issuer_name(certificate, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
  for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                                   std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
  }
  if (X509_sign(certificate, key, EVP_sha256()) == 0) throw std::runtime_error("could not sign the test certificate");
}

}  // namespace

LoopbackHttpsServer::LoopbackHttpsServer(int status, Reply reply) : status_(status), reply_(reply) {
  signal(SIGPIPE, SIG_IGN);  // a client that hangs up mid-reply ends the write, not the test
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  makeCertificate(key, certificate);
  char pattern[] = "/tmp/quorvel-feedback-ca-XXXXXX";
  const int fd = mkstemp(pattern);
  caFile_ = pattern;
  FILE* file = fdopen(fd, "w");
  PEM_write_X509(file, certificate);
  fclose(file);

  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate(context, certificate);
  SSL_CTX_use_PrivateKey(context, key);
  context_ = context;
  X509_free(certificate);
  EVP_PKEY_free(key);

  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("could not listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

LoopbackHttpsServer::~LoopbackHttpsServer() {
  stopping_ = true;
  thread_.join();
  close(listener_);
  SSL_CTX_free(static_cast<SSL_CTX*>(context_));
  std::filesystem::remove(caFile_);
}

std::vector<LoopbackHttpsServer::Request> LoopbackHttpsServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackHttpsServer::serve() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) continue;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    ++connections_;
    answer(client);
    close(client);
  }
}

void LoopbackHttpsServer::answer(int client) {
  SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
  SSL_set_fd(ssl, client);
  if (SSL_accept(ssl) == 1) {
    std::string received;
    char buffer[16384];
    size_t headEnd = std::string::npos, wanted = 0;
    while (true) {
      const int count = SSL_read(ssl, buffer, sizeof buffer);
      if (count <= 0) break;
      received.append(buffer, static_cast<size_t>(count));
      if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
        const auto at = received.find("Content-Length: ");
        wanted = at == std::string::npos ? 0 : std::strtoul(received.c_str() + at + 16, nullptr, 10);
      }
      if (headEnd != std::string::npos && received.size() >= headEnd + 4 + wanted) break;
    }
    if (headEnd != std::string::npos) {
      std::lock_guard lock(mutex_);
      requests_.push_back({received.substr(0, headEnd), received.substr(headEnd + 4)});
    }
    if (status_ == 0) {
      // Silent: hold the connection until the client gives up.
      while (!stopping_ && SSL_read(ssl, buffer, sizeof buffer) > 0) {
      }
    } else if (reply_ == Reply::small) {
      const std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                                " Test\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
      SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
      SSL_shutdown(ssl);
    } else {
      // Writes until the client hangs up (or the test ends).
      std::string head = "HTTP/1.1 " + std::to_string(status_) + " Test\r\n";
      std::string more;
      if (reply_ == Reply::announcedHuge) {
        head += "Content-Length: 10737418240\r\n\r\n";
        more.assign(16384, 'x');
      } else if (reply_ == Reply::endlessChunks) {
        head += "Transfer-Encoding: chunked\r\n\r\n";
        more = "4000\r\n" + std::string(0x4000, 'x') + "\r\n";
      } else {
        more = "X-More: " + std::string(64, 'x') + "\r\n";
      }
      bool open = SSL_write(ssl, head.data(), static_cast<int>(head.size())) > 0;
      while (open && !stopping_) open = SSL_write(ssl, more.data(), static_cast<int>(more.size())) > 0;
    }
  }
  SSL_free(ssl);
}
