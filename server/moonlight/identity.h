// This server's identity towards GameStream hosts, kept on disk so that a
// restarted server needs no new PIN: one client certificate and key for
// every host and every one of our clients, and the certificate each paired
// host showed, pinned. All under $XDG_DATA_HOME/quorvane/ (by default
// ~/.local/share/quorvane/): client.pem, client.key (mode 0600),
// hosts/ADDRESS_PORT.pem.
#ifndef QV_SERVER_MOONLIGHT_IDENTITY_H
#define QV_SERVER_MOONLIGHT_IDENTITY_H

#include <memory>
#include <string>

namespace qvs {

class ClientIdentity {
public:
    // The identity in `dir`, made there on first use. Null with `error` when
    // the directory or the files cannot be read or written.
    static std::shared_ptr<ClientIdentity> open(const std::string& dir, std::string* error);
    // The process's identity in the default directory, opened once.
    static std::shared_ptr<ClientIdentity> shared(std::string* error);
    static std::string default_dir();

    const std::string& cert_pem() const { return cert_pem_; }
    const std::string& key_pem() const { return key_pem_; }
    // Our `uniqueid` on the wire: 16 hex digits derived from the certificate.
    const std::string& unique_id() const { return unique_id_; }

    // The pinned certificate of a host; empty when we are not paired with it.
    std::string host_cert(const std::string& host, int port) const;
    bool pin_host_cert(const std::string& host, int port, const std::string& cert_pem) const;
    void forget_host(const std::string& host, int port) const;

private:
    std::string host_file(const std::string& host, int port) const;
    std::string dir_, cert_pem_, key_pem_, unique_id_;
};

}  // namespace qvs

#endif
