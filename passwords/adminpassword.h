#pragma once

#include <QByteArray>

// The admin page's password as network.conf keeps it: an Argon2id hash
// (http-admin-password-hash). The web face checks logins against it, and
// --hash-password makes it.
namespace AdminPassword {

// A new hash of the password; empty when it failed (too little memory).
[[nodiscard]] QByteArray hash(const QByteArray &password);

} // namespace AdminPassword
