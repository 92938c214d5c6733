#include "server/moonlight/identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "server/moonlight/pairing_crypto.h"

namespace qvs {

namespace {

bool read_file(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

// Written whole or not at all: a new file beside it, then renamed.
bool write_file(const std::string& path, const std::string& text, mode_t mode) {
    std::string tmp = path + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ok = ::close(fd) == 0 && ok;
    return ok && ::rename(tmp.c_str(), path.c_str()) == 0;
}

bool make_dirs(const std::string& path) {
    for (size_t at = 1; at <= path.size(); at++) {
        if (at < path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string ClientIdentity::default_dir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0]) return std::string(xdg) + "/quorvane";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : ".") + "/.local/share/quorvane";
}

std::shared_ptr<ClientIdentity> ClientIdentity::open(const std::string& dir, std::string* error) {
    auto id = std::make_shared<ClientIdentity>();
    id->dir_ = dir;
    std::string cert = dir + "/client.pem", key = dir + "/client.key";
    if (!make_dirs(dir + "/hosts")) {
        *error = "cannot make " + dir + "/hosts: " + std::strerror(errno);
        return nullptr;
    }
    if (!read_file(cert, &id->cert_pem_) || !read_file(key, &id->key_pem_) || cert_signature(id->cert_pem_).empty()) {
        // The key is written first: a certificate never exists without its key.
        if (!make_self_signed("NVIDIA GameStream Client", &id->cert_pem_, &id->key_pem_) ||
            !write_file(key, id->key_pem_, 0600) || !write_file(cert, id->cert_pem_, 0644)) {
            *error = "cannot write the client certificate in " + dir + ": " + std::strerror(errno);
            return nullptr;
        }
    }
    id->unique_id_ = to_hex(pair_digest(PairHash::Sha256, ByteString(id->cert_pem_.begin(), id->cert_pem_.end())))
                         .substr(0, 16);
    return id;
}

std::shared_ptr<ClientIdentity> ClientIdentity::shared(std::string* error) {
    static std::mutex lock;
    static std::shared_ptr<ClientIdentity> identity;
    std::lock_guard<std::mutex> hold(lock);
    if (!identity) identity = open(default_dir(), error);
    return identity;
}

std::string ClientIdentity::host_file(const std::string& host, int port) const {
    // An address or name may hold ':' (IPv6) or '/': neither belongs in a file name.
    std::string name;
    for (char c : host) name += (std::isalnum(uint8_t(c)) || c == '.' || c == '-') ? c : '_';
    return dir_ + "/hosts/" + name + "_" + std::to_string(port) + ".pem";
}

std::string ClientIdentity::host_cert(const std::string& host, int port) const {
    std::string pem;
    return read_file(host_file(host, port), &pem) ? pem : std::string();
}

bool ClientIdentity::pin_host_cert(const std::string& host, int port, const std::string& cert_pem) const {
    return write_file(host_file(host, port), cert_pem, 0644);
}

void ClientIdentity::forget_host(const std::string& host, int port) const { ::unlink(host_file(host, port).c_str()); }

}  // namespace qvs
