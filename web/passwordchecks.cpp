#include "web/passwordchecks.h"

#include <sodium.h>

namespace {

// A password that leaves no copy behind in memory once checked or dropped.
struct Secret
{
    QByteArray bytes;
    ~Secret() { sodium_memzero(bytes.data(), size_t(bytes.size())); }
};

} // namespace

PasswordChecks::PasswordChecks(QByteArray hash, std::shared_ptr<SuspendedRequests> suspended)
    : m_hash(std::move(hash)), m_worker(std::move(suspended))
{}

bool PasswordChecks::check(const MicroHttpd &mhd, MHD_Connection *connection, QByteArray password,
                           std::shared_ptr<std::optional<bool>> matches)
{
    auto secret = std::make_shared<Secret>();
    secret->bytes = std::move(password);
    return m_worker.run(mhd, connection, [hash = m_hash, secret = std::move(secret), matches = std::move(matches)] {
        const bool matched =
            crypto_pwhash_str_verify(hash.constData(), secret->bytes.constData(), quint64(secret->bytes.size())) == 0;
        return std::function<void()>([matches, matched] { *matches = matched; });
    });
}
