#include "passwords/adminpassword.h"

#include <sodium.h>

namespace AdminPassword {

QByteArray hash(const QByteArray &password)
{
    if (sodium_init() < 0)
        return {};
    char hashed[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hashed, password.constData(), quint64(password.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return QByteArray(hashed);
}

} // namespace AdminPassword
